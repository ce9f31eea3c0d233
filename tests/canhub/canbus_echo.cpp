// canbus_echo URL COUNT: a peer for tests of other clients. Opens the channel, prints "ready",
// then answers every frame it receives with a remote frame (id 0x700, which clients without
// the remote-frame extension must never see) followed by the same frame sent back. Exits 0
// after COUNT frames, 1 on an error or after 10 s without a frame.
#include <poll.h>

#include <cstdio>
#include <string>

#include "canbus/channel.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: canbus_echo URL COUNT\n");
    return 2;
  }
  const long count = std::stol(argv[2]);
  canbus::OpenResult result = canbus::openChannel(argv[1]);
  if (auto* error = std::get_if<canbus::Error>(&result)) {
    std::fprintf(stderr, "canbus_echo: %s\n", error->message.c_str());
    return 1;
  }
  canbus::Channel& channel = *std::get<std::unique_ptr<canbus::Channel>>(result);
  std::printf("ready\n");
  std::fflush(stdout);

  canbus::Frame remote;
  remote.id = 0x700;
  remote.remote = true;
  for (long echoed = 0; echoed < count;) {
    std::optional<canbus::Frame> frame = channel.receive();
    if (!frame) {
      if (channel.state() == canbus::ChannelState::down) return 1;
      pollfd entry{channel.pollFd(), POLLIN, 0};
      if (::poll(&entry, 1, 10000) == 0) {
        std::fprintf(stderr, "canbus_echo: nothing received for 10 s after %ld frames\n", echoed);
        return 1;
      }
      continue;
    }
    for (const canbus::Frame& out : {remote, *frame}) {
      if (std::optional<canbus::Error> error = channel.send(out)) {
        std::fprintf(stderr, "canbus_echo: %s\n", error->message.c_str());
        return 1;
      }
    }
    ++echoed;
  }
  // Let the last frames leave our send buffer before exiting.
  for (int i = 0; i < 100 && channel.state() != canbus::ChannelState::down; ++i) channel.receive();
  return 0;
}
