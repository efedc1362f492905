// The argument vector of a command: the one place where the tests (in-process and as a process)
// and the fuzz targets build argc and argv from strings. Header-only, without GoogleTest, so that
// the fuzz targets use it too.
#pragma once

#include <string>
#include <vector>

namespace testkit {

// argv[0] is program (a command's name or an executable's path), then args unchanged;
// argv[argc] is null. The strings live as long as the object.
class Argv {
  public:
    Argv(const std::string& program, const std::vector<std::string>& args)
        : storage_(args.begin(), args.end()) {
        storage_.insert(storage_.begin(), program);
        for (std::string& s : storage_)
            pointers_.push_back(s.data());
        pointers_.push_back(nullptr);
    }
    Argv(const Argv&) = delete;
    Argv& operator=(const Argv&) = delete;
    int argc() const { return static_cast<int>(storage_.size()); }
    char** argv() { return pointers_.data(); }

  private:
    std::vector<std::string> storage_;
    std::vector<char*> pointers_;
};

} // namespace testkit
