// The kernel's side of SocketCAN fed arbitrary bytes: netlink answers to every request the
// library makes, and records of any length arriving on the CAN socket.
//
// Input: byte 0 = flags (bit 0: the answer's first message gets the request's sequence number,
// so that the answer is taken for the request's), bytes 1-2 = L (little-endian), then L bytes of
// netlink answer, then records, each one length byte and that many bytes.
// Promises checked:
//  - every netlink request gives a link or an errno value 1..4095, never anything else; a link
//    holds no more text than the answer had, a bit rate, restart-ms and controller state only
//    for a "can" link, and the controller state is one the kernel defines;
//  - a channel whose netlink answers that way hands out only valid frames (id fits its format,
//    length <= 8), returns from receive() and send() (no hang), and keeps its state one of its
//    four, whatever records arrive; it counts bus-offs only up.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "canbus/can_netlink.h"
#include "canbus/socketcan_channel.h"
#include "fuzz_check.h"

namespace {

using Bytes = std::vector<uint8_t>;

void checkResult(const std::variant<canbus::LinkInfo, int>& result, std::size_t answerSize) {
  if (const int* error = std::get_if<int>(&result)) {
    FUZZ_CHECK(*error >= 1 && *error <= 4095, "errno %d out of range", *error);
    return;
  }
  const canbus::LinkInfo& link = std::get<canbus::LinkInfo>(result);
  FUZZ_CHECK(link.name.size() <= answerSize && link.kind.size() <= answerSize,
             "a link with more text (%zu, %zu) than the answer (%zu)", link.name.size(),
             link.kind.size(), answerSize);
  if (link.kind != "can") {
    FUZZ_CHECK(!link.bitrate && !link.restartMs && !link.canState, "CAN settings on a \"%s\" link",
               link.kind.c_str());
  }
  if (link.canState) {
    FUZZ_CHECK(
        static_cast<uint32_t>(*link.canState) <= static_cast<uint32_t>(canbus::CanState::sleeping),
        "controller state %u", static_cast<unsigned>(*link.canState));
  }
}

void checkError(int error) {
  FUZZ_CHECK(error >= 0 && error <= 4095, "errno %d out of range", error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool patchSequence = (data[0] & 1) != 0;
  const std::size_t answerSize = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
  const Bytes answer(data + 3, data + 3 + answerSize);
  const uint8_t* records = data + 3 + answerSize;
  const std::size_t recordBytes = size - 3 - answerSize;

  // Every request against the answer as it is.
  {
    canbus::NetlinkClient client(
        [&answer](const Bytes&) -> std::variant<Bytes, int> { return answer; });
    checkResult(client.readLink(5), answer.size());
    checkError(client.setUp(5, true));
    checkError(client.setBitrate(5, 500000));
    checkError(client.setRestartMs(5, 100));
    checkError(client.restart(5));
    if (const auto link = canbus::parseLinkMessage(answer.data(), answer.size())) {
      checkResult(*link, answer.size());
    }
  }

  // A channel on a socket pair whose netlink answers with the bytes.
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  const int kernelEnd = ends[1];
  canbus::SocketCanHost host = canbus::SocketCanHost::kernel();
  host.netlink = [&answer, patchSequence](const Bytes& request) -> std::variant<Bytes, int> {
    Bytes reply = answer;
    if (patchSequence && reply.size() >= 12 && request.size() >= 12) {
      std::memcpy(reply.data() + 8, request.data() + 8, 4);  // nlmsg_seq
    }
    return reply;
  };
  {
    canbus::SocketCanChannel channel(canbus::UniqueFd{ends[0]}, "can0", 5, 500000, host);
    uint64_t busOffs = 0;
    std::size_t at = 0;
    while (at < recordBytes) {
      const std::size_t length = std::min<std::size_t>(records[at], recordBytes - at - 1);
      (void)::send(kernelEnd, records + at + 1, length, MSG_DONTWAIT);
      at += 1 + length;
      for (int i = 0; i < 64; ++i) {
        const std::optional<canbus::Frame> frame = channel.receive();
        const auto state = channel.state();
        FUZZ_CHECK(state == canbus::ChannelState::active ||
                       state == canbus::ChannelState::errorPassive ||
                       state == canbus::ChannelState::busOff || state == canbus::ChannelState::down,
                   "state %d", static_cast<int>(state));
        FUZZ_CHECK(channel.busOffCount() >= busOffs, "bus-off count went down");
        busOffs = channel.busOffCount();
        if (!frame) break;
        FUZZ_CHECK(canbus::isValid(*frame), "invalid frame handed out: id %X length %u",
                   static_cast<unsigned>(frame->id), static_cast<unsigned>(frame->length));
      }
      canbus::Frame frame;
      frame.id = 0x601;
      frame.length = 8;
      if (const auto error = channel.send(frame)) {
        FUZZ_CHECK(!error->message.empty(), "an error without a text");
      }
      uint8_t drain[128];
      while (::recv(kernelEnd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
      }
    }
  }
  ::close(kernelEnd);
  return 0;
}
