// Restores host environment variables that a test changes.
#pragma once
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

class EnvGuard {
  public:
    explicit EnvGuard(std::vector<std::string> names) {
        for (auto& n : names) {
            const char* v = std::getenv(n.c_str());
            saved_[n] = v ? std::optional<std::string>(v) : std::nullopt;
        }
    }
    ~EnvGuard() {
        for (const auto& [n, v] : saved_) {
            if (v)
                ::setenv(n.c_str(), v->c_str(), 1);
            else
                ::unsetenv(n.c_str());
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};
