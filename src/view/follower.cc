#include "view/follower.h"

#include <utility>

namespace syslog_listen {

Follower::Follower(FollowDisk& disk, std::string name, std::size_t tailWindow)
    : disk_(disk),
      name_(std::move(name)),
      tailWindow_(tailWindow),
      chunk_(kChunk) {}

bool Follower::Look(FollowSink& sink) {
  if (!file_ && !Open(sink)) return false;
  // The name first: what was written to the open file before another took
  // its name is read below, before the switch.
  const std::optional<FileIdentity> named = disk_.IdentityAt(name_);
  const bool replaced = named && *named != identity_;
  std::uint64_t got = Read(sink, replaced ? UINT64_MAX : kMaxPerLook);
  if (replaced) {
    sink.Ended();
    file_.reset();
    if (Open(sink)) got += Read(sink, kMaxPerLook);
  } else if (!named) {
    // The writer may still be writing to it (the server looks at the name
    // once a second): read on. But where the name stays taken for as long
    // as the file is open (Windows), let it go, so that a new file can be
    // made.
    if (file_->Links() == FileLinks::kDeletePending) {
      sink.Ended();
      file_.reset();
    }
    Say(sink, FollowNote::kGone);
  } else {
    said_.reset();
  }
  return got > 0;
}

bool Follower::Open(FollowSink& sink) {
  bool missing = false;
  file_ = disk_.Open(name_, &missing);
  const std::optional<FileIdentity> identity =
      file_ ? file_->Identity() : std::nullopt;
  if (!identity) {
    file_.reset();
    Say(sink, started_  ? FollowNote::kGone
              : missing ? FollowNote::kMissing
                        : FollowNote::kRefused);
    return false;
  }
  identity_ = *identity;
  said_.reset();
  offset_ = 0;
  if (!std::exchange(started_, true)) ReadTail(sink);
  return true;
}

void Follower::ReadTail(FollowSink& sink) {
  const std::uint64_t size = file_->Size().value_or(0);
  offset_ = size > tailWindow_ ? size - tailWindow_ : 0;
  std::string tail(static_cast<std::size_t>(size - offset_), '\0');
  std::size_t got = 0;
  for (std::size_t n; got < tail.size(); got += n) {
    n = file_->Read(offset_ + got, std::span(tail).subspan(got));
    if (n == 0) break;
  }
  tail.resize(got);
  sink.Tail(tail, offset_ == 0);
  offset_ += got;
}

std::uint64_t Follower::Read(FollowSink& sink, std::uint64_t limit) {
  const std::optional<std::uint64_t> size = file_->Size();
  if (size && *size < offset_) {
    sink.Ended();
    offset_ = 0;
  }
  std::uint64_t got = 0;
  while (got < limit) {
    const std::size_t n = file_->Read(offset_, chunk_);
    if (n == 0) break;
    offset_ += n;
    got += n;
    sink.Bytes(std::string_view(chunk_.data(), n));
  }
  return got;
}

void Follower::Say(FollowSink& sink, FollowNote note) {
  if (said_ == note) return;
  said_ = note;
  sink.Note(note);
}

}  // namespace syslog_listen
