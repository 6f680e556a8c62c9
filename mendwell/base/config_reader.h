// Extracts config.xml from the program's resources into the work folder and parses it.
#pragma once
#include <memory>
#include <string>

#include "mendwell/base/config_record.h"

namespace win {
class Module;
}

namespace mw {

class ConfigReader {
  public:
    explicit ConfigReader(const win::Module& module);
    ConfigReader(const ConfigReader&) = delete;
    ConfigReader& operator=(const ConfigReader&) = delete;

    // True only when extraction and parsing both succeeded.
    bool parsed() const { return parsed_; }
    // Copies the record out when parsed; otherwise leaves `target` untouched.
    void copyTo(PatcherConfigRecord& target) const;
    // The values to the patch log; nothing when not parsed.
    void logValues() const;

    // What is wrong with config.xml, for the user: "" when it was extracted and read as a configuration.
    const std::wstring& problem() const { return problem_; }
    const std::wstring& path() const { return path_; }
    const PatcherConfigRecord& record() const { return *record_; }

  private:
    std::wstring path_;
    std::unique_ptr<PatcherConfigRecord> record_;
    std::wstring problem_;
    bool parsed_ = false;
};

// The parse rules on an extracted file: false when a required element is missing (the record is then
// left empty). A document that is not well-formed leaves the record empty and gives true. `problem`,
// when given, says what is wrong ("" when nothing is).
bool parseConfigFile(const std::wstring& path, PatcherConfigRecord& record, std::wstring* problem = nullptr);

// The lines logValues writes, for any record (the detected product codes included).
void logConfigValues(const PatcherConfigRecord& record);

}  // namespace mw
