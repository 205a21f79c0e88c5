// SPDX-License-Identifier: MIT
// The in-memory interface's callbacks find their call's state through a thread-local pointer: this
// owner makes a call's state the current one for the length of the codec call and puts back the
// one before, so that calls on different threads, or nested ones, never see each other's.
#pragma once

namespace orveln1
{

template <typename State> class current_call
{
  public:
    current_call(State *&slot, State &state) noexcept : slot_(slot), previous_(slot) { slot = &state; }
    ~current_call() { slot_ = previous_; }
    current_call(const current_call &) = delete;
    current_call &operator=(const current_call &) = delete;

  private:
    State *&slot_;
    State *previous_;
};

} // namespace orveln1
