#include "server/gathered.h"

#include "records/priority.h"

namespace syslog_listen {

namespace {

// Room for the longest record: time stamp, annotation and a whole datagram.
constexpr std::size_t kMaxRecord = kMaxDatagram + 256;

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

bool Gathered::Add(const Datagram& datagram, std::string_view arrival) {
  // The message text: the datagram's bytes up to the first NUL.
  const std::size_t nul = datagram.bytes.find('\0');
  const Message message{datagram.bytes.substr(0, nul), arrival,
                        datagram.senderNetOrder};
  const PriorityHeader header = ParsePriority(message.text);
  AppendRecord(file_, Output::kLogFile, message, header, annotate_);
  fileEnds_.push_back(file_.size());
  if (shown_ != nullptr && shown_ != &file_) {
    AppendRecord(*shown_, *console_, message, header, annotate_);
    consoleEnds_.push_back(shown_->size());
  }
  // Some senders end a message with a NUL, or pad it with them.
  return nul != std::string_view::npos &&
         datagram.bytes.find_first_not_of('\0', nul) != std::string_view::npos;
}

void Gathered::Clear() {
  file_.clear();
  consoleBytes_.clear();
  consoleEnds_.clear();
  fileEnds_.clear();
}

}  // namespace syslog_listen
