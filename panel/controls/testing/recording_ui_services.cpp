#include "panel/controls/testing/recording_ui_services.h"

namespace pgx::panel::testing {

void RecordingUiServices::MsgBox(const QString& text, MsgIcon icon) {
  messages.push_back({text, icon, kAppTitle});
}

std::optional<QString> RecordingUiServices::InputBox(const QString& prompt, const QString& caption,
                                                     const QString& default_answer) {
  inputs.push_back({prompt, caption, default_answer});
  if (answers_.empty()) return std::nullopt;
  // Swapped out rather than moved into a new optional, which g++ 12 takes for a read of uninitialised memory.
  std::optional<QString> answer;
  answer.swap(answers_.front());
  answers_.pop_front();
  return answer;
}

QStringList RecordingUiServices::Texts() const {
  QStringList texts;
  for (const ShownMessage& m : messages) texts << m.text;
  return texts;
}

void RecordingUiServices::Clear() {
  messages.clear();
  inputs.clear();
  answers_.clear();
  beeps = 0;
  pointer_changes = 0;
}

}  // namespace pgx::panel::testing
