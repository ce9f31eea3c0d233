#include "canbus/socketcand_protocol.h"

#include <algorithm>
#include <cstdio>

#include "canbus/hex.h"

namespace canbus::socketcand {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string clip(std::string_view text) { return std::string(text.substr(0, kMaxMessageLength)); }

// An id word: 1..8 hex digits; exactly 8 digits make it extended (as socketcand does).
std::optional<Frame> parseId(std::string_view word) {
  const std::optional<uint32_t> id = parseHex(word);
  if (!id) return std::nullopt;
  Frame frame;
  frame.extended = word.size() == 8;
  frame.id = *id;
  if (frame.id > (frame.extended ? kExtendedIdMask : kStandardIdMask)) return std::nullopt;
  return frame;
}

std::optional<uint8_t> parseDlc(std::string_view word) {
  if (word.size() > 2) return std::nullopt;
  const std::optional<uint32_t> dlc = parseHex(word);
  if (!dlc || *dlc > kMaxDataLength) return std::nullopt;
  return static_cast<uint8_t>(*dlc);
}

// SECS.USECS; plain digits on both sides of one dot (the dot and fraction may be missing).
bool isTimestamp(std::string_view word) {
  const std::size_t dot = word.find('.');
  const std::string_view secs = word.substr(0, dot);
  const std::string_view frac =
      dot == std::string_view::npos ? std::string_view{} : word.substr(dot + 1);
  auto digits = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return !secs.empty() && secs.size() <= 20 && digits(secs) && frac.size() <= 9 && digits(frac) &&
         (dot == std::string_view::npos || !frac.empty());
}

std::string idWord(const Frame& frame) { return hexNumber(frame.id, frame.extended ? 8 : 3); }

std::string timeWord(Timestamp time) {
  char text[40];
  std::snprintf(text, sizeof text, "%lld.%06u", static_cast<long long>(time.seconds),
                static_cast<unsigned>(time.microseconds % 1000000));
  return text;
}

ServerMessage malformed(std::string why) {
  ServerMessage message;
  message.kind = ServerMessage::Kind::malformed;
  message.text = std::move(why);
  return message;
}

ClientCommand badCommand(std::string why) {
  ClientCommand command;
  command.kind = ClientCommand::Kind::malformed;
  command.text = std::move(why);
  return command;
}

std::string joinFrom(const std::vector<std::string_view>& words, std::size_t first) {
  std::string text;
  for (std::size_t i = first; i < words.size(); ++i) {
    if (!text.empty()) text += ' ';
    text += words[i];
  }
  return text;
}

}  // namespace

void MessageSplitter::feed(std::string_view bytes) {
  if (consumed_ > 0) {
    buffer_.erase(0, consumed_);
    scanned_ -= std::min(scanned_, consumed_);
    consumed_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<MessageSplitter::Piece> MessageSplitter::next() {
  while (consumed_ < buffer_.size()) {
    if (discarding_) {
      // The rest of a message already reported as too long: dropped up to its '>' or a new
      // '<', as if it had arrived in one piece with its start.
      const std::size_t stop = buffer_.find_first_of("<>", consumed_);
      if (stop == std::string::npos) {
        consumed_ = buffer_.size();
        return std::nullopt;
      }
      discarding_ = false;
      consumed_ = buffer_[stop] == '>' ? stop + 1 : stop;
      continue;
    }
    if (!inMessage_) {
      const char c = buffer_[consumed_];
      if (isSpace(c)) {
        ++consumed_;
        continue;
      }
      if (c == '<') {
        inMessage_ = true;
        scanned_ = consumed_ + 1;
        continue;
      }
      // A run of garbage up to the next whitespace or '<'.
      std::size_t end = consumed_;
      while (end < buffer_.size() && !isSpace(buffer_[end]) && buffer_[end] != '<') ++end;
      Piece piece{Piece::Kind::garbage,
                  clip(std::string_view(buffer_).substr(consumed_, end - consumed_))};
      consumed_ = end;
      return piece;
    }
    // Inside a message that starts at consumed_: look for its end.
    const std::size_t stop = buffer_.find_first_of("<>", scanned_);
    if (stop == std::string::npos) {
      scanned_ = buffer_.size();
      if (buffer_.size() - consumed_ > maxLength_) {
        inMessage_ = false;
        discarding_ = true;
        consumed_ = buffer_.size();
        return Piece{Piece::Kind::tooLong, {}};
      }
      return std::nullopt;
    }
    if (stop - consumed_ > maxLength_) {
      inMessage_ = false;
      consumed_ = stop;  // what follows is seen afresh: a new message or the rest as garbage
      if (buffer_[stop] == '>') ++consumed_;
      return Piece{Piece::Kind::tooLong, {}};
    }
    const std::string_view text =
        std::string_view(buffer_).substr(consumed_ + 1, stop - consumed_ - 1);
    if (buffer_[stop] == '<') {
      // A new message starts before this one ended.
      Piece piece{Piece::Kind::garbage,
                  clip(std::string_view(buffer_).substr(consumed_, stop - consumed_))};
      consumed_ = stop;
      scanned_ = stop + 1;
      return piece;
    }
    Piece piece{Piece::Kind::message, std::string(text)};
    consumed_ = stop + 1;
    inMessage_ = false;
    return piece;
  }
  return std::nullopt;
}

std::vector<std::string_view> splitWords(std::string_view body) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < body.size()) {
    while (pos < body.size() && isSpace(body[pos])) ++pos;
    std::size_t end = pos;
    while (end < body.size() && !isSpace(body[end])) ++end;
    if (end > pos) words.push_back(body.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

ServerMessage parseServerMessage(std::string_view body) {
  const std::vector<std::string_view> words = splitWords(body);
  ServerMessage message;
  if (words.empty()) {
    message.text = std::string(body);
    return message;
  }
  const std::string_view verb = words[0];
  if (verb == "hi" && words.size() == 1) {
    message.kind = ServerMessage::Kind::hi;
  } else if (verb == "ok" && words.size() == 1) {
    message.kind = ServerMessage::Kind::ok;
  } else if (verb == "echo" && words.size() == 1) {
    message.kind = ServerMessage::Kind::echo;
  } else if (verb == "error") {
    message.kind = ServerMessage::Kind::error;
    message.text = joinFrom(words, 1);
  } else if (verb == "frame") {
    // frame ID SECS.USECS [DATA]: DATA is all bytes in hex without spaces, absent for DLC 0.
    if (words.size() < 3 || words.size() > 4)
      return malformed("frame needs an id, a time and data");
    std::optional<Frame> frame = parseId(words[1]);
    if (!frame) return malformed("frame id is not valid");
    if (!isTimestamp(words[2])) return malformed("frame time is not valid");
    if (words.size() == 4) {
      const std::string_view data = words[3];
      if (data.size() % 2 != 0 || data.size() > 2 * kMaxDataLength) {
        return malformed("frame data is not 0 to 8 bytes of hex");
      }
      for (std::size_t i = 0; i < data.size(); i += 2) {
        const std::optional<uint32_t> byte = parseHex(data.substr(i, 2));
        if (!byte) return malformed("frame data is not hex");
        frame->data[frame->length++] = static_cast<uint8_t>(*byte);
      }
    }
    message.kind = ServerMessage::Kind::frame;
    message.frame = *frame;
  } else if (verb == "rtr") {
    // rtr ID SECS.USECS DLC (our extension)
    if (words.size() != 4) return malformed("rtr needs an id, a time and a DLC");
    std::optional<Frame> frame = parseId(words[1]);
    if (!frame) return malformed("rtr id is not valid");
    if (!isTimestamp(words[2])) return malformed("rtr time is not valid");
    const std::optional<uint8_t> dlc = parseDlc(words[3]);
    if (!dlc) return malformed("rtr DLC is not 0 to 8");
    frame->remote = true;
    frame->length = *dlc;
    message.kind = ServerMessage::Kind::rtr;
    message.frame = *frame;
  } else {
    message.text = std::string(body);
  }
  return message;
}

ClientCommand parseClientCommand(std::string_view body) {
  const std::vector<std::string_view> words = splitWords(body);
  ClientCommand command;
  if (words.empty()) return badCommand("empty command");
  const std::string_view verb = words[0];
  if (verb == "open") {
    if (words.size() != 2) return badCommand("open needs one bus name");
    if (words[1].size() > 64) return badCommand("bus name longer than 64 characters");
    command.kind = ClientCommand::Kind::open;
    command.text = std::string(words[1]);
  } else if (verb == "rawmode" && words.size() == 1) {
    command.kind = ClientCommand::Kind::rawmode;
  } else if (verb == "rtrmode" && words.size() == 1) {
    command.kind = ClientCommand::Kind::rtrmode;
  } else if (verb == "echo" && words.size() == 1) {
    command.kind = ClientCommand::Kind::echo;
  } else if (verb == "send") {
    // send ID DLC B0 B1 ...: bytes in hex, either case, unpadded; as many as DLC says.
    if (words.size() < 3) return badCommand("send needs an id and a DLC");
    std::optional<Frame> frame = parseId(words[1]);
    if (!frame) return badCommand("send id is not a valid CAN id");
    const std::optional<uint8_t> dlc = parseDlc(words[2]);
    if (!dlc) return badCommand("send DLC is not 0 to 8");
    if (words.size() - 3 != *dlc) return badCommand("send byte count does not match the DLC");
    for (std::size_t i = 3; i < words.size(); ++i) {
      const std::optional<uint32_t> byte = words[i].size() <= 2 ? parseHex(words[i]) : std::nullopt;
      if (!byte) return badCommand("send data byte is not hex");
      frame->data[frame->length++] = static_cast<uint8_t>(*byte);
    }
    command.kind = ClientCommand::Kind::send;
    command.frame = *frame;
  } else if (verb == "sendrtr") {
    if (words.size() != 3) return badCommand("sendrtr needs an id and a DLC");
    std::optional<Frame> frame = parseId(words[1]);
    if (!frame) return badCommand("sendrtr id is not a valid CAN id");
    const std::optional<uint8_t> dlc = parseDlc(words[2]);
    if (!dlc) return badCommand("sendrtr DLC is not 0 to 8");
    frame->remote = true;
    frame->length = *dlc;
    command.kind = ClientCommand::Kind::sendRtr;
    command.frame = *frame;
  } else {
    command.kind = ClientCommand::Kind::unknown;
    command.text = clip(body);
  }
  return command;
}

std::string formatOpen(std::string_view bus) { return "< open " + std::string(bus) + " >"; }
std::string formatRtrMode() { return "< rtrmode >"; }
std::string formatRawMode() { return "< rawmode >"; }

std::string formatHi() { return "< hi >"; }
std::string formatOk() { return "< ok >"; }
std::string formatEcho() { return "< echo >"; }
std::string formatError(std::string_view why) { return "< error " + std::string(why) + " >"; }

std::string formatSend(const Frame& frame) {
  std::string text = "< send " + idWord(frame) + ' ' + std::to_string(frame.length);
  for (std::size_t i = 0; i < frame.length && i < kMaxDataLength; ++i) {
    text += ' ';
    text += hexNumber(frame.data[i], 2);
  }
  text += " >";
  return text;
}

std::string formatSendRtr(const Frame& frame) {
  return "< sendrtr " + idWord(frame) + ' ' + std::to_string(frame.length) + " >";
}

std::string formatFrame(const Frame& frame, Timestamp time) {
  std::string text = "< frame " + idWord(frame) + ' ' + timeWord(time) + ' ';
  for (std::size_t i = 0; i < frame.length && i < kMaxDataLength; ++i) {
    text += hexNumber(frame.data[i], 2);
  }
  // With data: "... D204 >"; DLC 0: "... 12.000034  >" (two spaces, as socketcand writes it).
  text += " >";
  return text;
}

std::string formatRtr(const Frame& frame, Timestamp time) {
  return "< rtr " + idWord(frame) + ' ' + timeWord(time) + ' ' + std::to_string(frame.length) +
         " >";
}

}  // namespace canbus::socketcand
