#pragma once
// The remote/local state of a GPIB instrument (the RL function of IEEE 488.1). The controller puts it in
// remote by asserting REN and addressing it to listen, back to local with Go To Local or by releasing REN,
// and can lock out its front panel's local key with Local Lockout.

namespace pgx::sim {

class RemoteLocal {
 public:
  enum class State { kLocal, kRemote, kLocalWithLockout, kRemoteWithLockout };

  State state() const { return state_; }
  bool remote() const { return state_ == State::kRemote || state_ == State::kRemoteWithLockout; }
  bool locked_out() const {
    return state_ == State::kLocalWithLockout || state_ == State::kRemoteWithLockout;
  }

  // The REN line changed; releasing it returns the instrument to local and ends a lockout.
  void remote_enable(bool asserted) {
    ren_ = asserted;
    if (!asserted) state_ = State::kLocal;
  }
  bool remote_enabled() const { return ren_; }
  // Addressed to listen (MLA): with REN asserted the instrument goes remote.
  void addressed_to_listen() {
    if (!ren_) return;
    if (state_ == State::kLocal) state_ = State::kRemote;
    if (state_ == State::kLocalWithLockout) state_ = State::kRemoteWithLockout;
  }
  // Go To Local (GTL) while addressed to listen; a lockout stays.
  void go_to_local() {
    if (state_ == State::kRemote) state_ = State::kLocal;
    if (state_ == State::kRemoteWithLockout) state_ = State::kLocalWithLockout;
  }
  // Local Lockout (LLO), a universal command: with REN asserted the local key stops working.
  void local_lockout() {
    if (!ren_) return;
    if (state_ == State::kLocal) state_ = State::kLocalWithLockout;
    if (state_ == State::kRemote) state_ = State::kRemoteWithLockout;
  }

 private:
  State state_ = State::kLocal;
  bool ren_ = false;
};

}  // namespace pgx::sim
