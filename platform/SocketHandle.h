#pragma once

namespace platform {

// A socket as the operating system knows it.
using SocketHandle = int;
constexpr SocketHandle InvalidSocket = -1;

} // namespace platform
