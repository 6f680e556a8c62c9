// "<OrvexCode>.patch" beside the maker's installer records: one Patcher entry per patch applied.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "mendwell/base/config_record.h"
#include "platform/xmldom/xmldom.h"

namespace mw {

class PatchHistoryFile {
  public:
    explicit PatchHistoryFile(std::wstring productCode);

    // Shared program files folder + "\Orvex\Installers\" + code + ".patch".
    static std::wstring pathFor(std::wstring_view productCode);
    const std::wstring& path() const { return path_; }
    const std::wstring& productCode() const { return code_; }

    bool exists() const;
    // True when the file exists and is well-formed. A damaged file counts as absent (isDamaged()).
    bool load();
    bool isLoaded() const { return doc_.isOpen(); }
    bool isDamaged() const { return damaged_; }

    // Number of Patcher entries, as decimal text ("0" when nothing is loaded).
    std::wstring entryCount() const;
    // Text of a child (OldVersion, NewVersion, ...) of the latest entry; "" when there is none.
    std::wstring latestValue(std::wstring_view child) const;
    std::wstring latestPatcherId() const;
    std::wstring tsInstalled() const;
    std::wstring tsModified() const;

    // After a successful patch: creates the file, appends an entry for a different patch, or leaves it
    // as it is when its latest entry is this patch. A damaged file is kept aside as "<code>.patch.bad"
    // before a fresh one is written. False when the file cannot be written.
    bool record(const PatcherConfigRecord& config, const std::wstring& rollbackManifestPath);

    // Why record() could not write the file on this machine as it stands ("" when it can): the file a
    // folder, read-only, or a folder on its way that is a file.
    std::wstring whyNotWritable() const;

    // Deletes the file (the product was reinstalled since it was written).
    bool remove();

  private:
    win::xml::Node latestEntry() const;  // the one with the highest SequenceID
    std::uint64_t highestSequence() const;
    bool appendEntry(win::xml::Node root, const std::wstring& sequence, const PatcherConfigRecord& config,
                     const std::wstring& rollbackManifestPath);

    std::wstring code_;
    std::wstring path_;
    win::xml::Document doc_;
    bool damaged_ = false;
};

}  // namespace mw
