// The log of the last run. The launcher shows nothing, so this is where a
// player, or the operator's support, reads why an update did not happen.
#pragma once

#include <mutex>
#include <string>

class RunLog {
 public:
  // A line is cut at this many bytes; past kMaxText in all the log notes
  // that it was cut and takes nothing more, so no run can make it grow.
  static constexpr std::size_t kMaxLine = 1024;
  static constexpr std::size_t kMaxText = 64 * 1024;

  // Appends text as one line, its control bytes escaped.
  void Add(const std::string& text);
  std::string Text() const;
  // Puts the log at path (its directory made when missing), the previous
  // log kept as path.1. False when it could not be written; the logs there
  // stay as they were then.
  bool Save(const std::string& path) const;

 private:
  mutable std::mutex m_lock;
  std::string m_strText;
  bool m_bCut = false;
};

// The log of this process's run.
RunLog& TheRunLog();

// The address as a log shows it: without the user information
// ("user:password@") of its authority.
std::string LoggedAddress(const std::string& url);
// The same without its query and fragment, which carry what the report is
// about rather than where it goes.
std::string LoggedAddressWithoutQuery(const std::string& url);
