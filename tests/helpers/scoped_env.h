// Sets or clears an environment variable for one scope and puts the old
// value back after it (POSIX). The time zone is re-read both times, so a
// scope may set TZ.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace mb::test {

class ScopedEnv {
 public:
  // A null value clears the variable.
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Put(value);
  }
  ~ScopedEnv() { Put(old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Put(const char* value) {
    if (value != nullptr) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
    tzset();
  }

  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace mb::test
