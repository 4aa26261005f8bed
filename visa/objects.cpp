#include "visa/objects.h"

#include "visa/events.h"
#include "visa/session_io.h"

namespace pgx::visa {

Object::Object(Kind k, ViObject owner) : kind(k), parent(owner) {}
Object::~Object() = default;

ObjectTable& ObjectTable::instance() {
  static ObjectTable* table = new ObjectTable();  // lives as long as the process
  return *table;
}

ViObject ObjectTable::add(std::shared_ptr<Object> object) {
  std::lock_guard lock(mutex_);
  if (object->parent != VI_NULL && !objects_.count(object->parent)) return VI_NULL;
  // Handles are not reused while the process runs (until 32 bits wrap), so a stale handle stays invalid.
  do {
    if (++next_handle_ == 0) next_handle_ = 0x1000;
  } while (objects_.count(next_handle_));
  object->handle = next_handle_;
  objects_.emplace(next_handle_, std::move(object));
  return next_handle_;
}

std::shared_ptr<Object> ObjectTable::find(ViObject handle) const {
  std::lock_guard lock(mutex_);
  auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<Object>> ObjectTable::remove(ViObject handle) {
  std::vector<std::shared_ptr<Object>> removed;
  std::lock_guard lock(mutex_);
  auto it = objects_.find(handle);
  if (it == objects_.end()) return removed;
  removed.push_back(it->second);
  objects_.erase(it);
  // What belongs to a removed object goes with it; sessions and events are few, so a scan per level does.
  for (std::size_t level = 0; level < removed.size(); ++level) {
    if (removed[level]->kind == Object::Kind::kFindList || removed[level]->kind == Object::Kind::kEvent)
      continue;
    const ViObject owner = removed[level]->handle;
    for (auto child = objects_.begin(); child != objects_.end();) {
      if (child->second->parent == owner) {
        removed.push_back(child->second);
        child = objects_.erase(child);
      } else {
        ++child;
      }
    }
  }
  for (const auto& gone : removed) gone->closed.store(true);
  return removed;
}

}  // namespace pgx::visa
