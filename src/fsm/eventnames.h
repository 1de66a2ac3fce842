#pragma once

#include <QLatin1String>

// The names of the events that states leave by and that transitions are given under.
namespace winsteps::event {
inline constexpr QLatin1String success("success");
inline constexpr QLatin1String failed("failed");
inline constexpr QLatin1String finished("finished");
// Every state has it: without a transition of its own it goes back to the previous state.
inline constexpr QLatin1String pageBack("pageBack");
} // namespace winsteps::event
