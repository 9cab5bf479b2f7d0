#include "server/gathered.h"

#include "records/priority.h"

namespace syslog_listen {

namespace {

// Room for the longest record: time stamp, annotation and a whole datagram.
constexpr std::size_t kMaxRecord = kMaxDatagram + 256;

// The message text: the datagram's bytes up to the first NUL.
std::string_view TextOf(const Datagram& datagram) {
  return datagram.bytes.substr(0, datagram.bytes.find('\0'));
}

}  // namespace

Gathered::Gathered(std::optional<Output> console, bool annotate)
    : console_(console), annotate_(annotate) {
  file_.reserve(kWriteThreshold + kMaxRecord);
  if (!console_) {
    shown_ = nullptr;
  } else if (annotate_ || *console_ != Output::kConsole) {
    consoleBytes_.reserve(kWriteThreshold + kMaxRecord);
    consoleEnds_.reserve(kMaxRecords);
    shown_ = &consoleBytes_;
  }
  fileEnds_.reserve(kMaxRecords);
}

void Gathered::Add(const Datagram& datagram, std::string_view arrival) {
  const Message message{TextOf(datagram), arrival, datagram.senderNetOrder};
  const PriorityHeader header = ParsePriority(message.text);
  AppendRecord(file_, Output::kLogFile, message, header, annotate_);
  fileEnds_.push_back(file_.size());
  if (shown_ == nullptr || shown_ == &file_) return;
  AppendRecord(*shown_, *console_, message, header, annotate_);
  consoleEnds_.push_back(shown_->size());
}

void Gathered::Clear() {
  file_.clear();
  consoleBytes_.clear();
  consoleEnds_.clear();
  fileEnds_.clear();
}

}  // namespace syslog_listen
