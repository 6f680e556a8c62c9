// Assembling a patcher: the Mendwell program with the patch folder's documents, its payload archive and
// the helper programs and libraries of the bin folder appended as resources.
#pragma once
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/resources/resources.h"

namespace mwbuild {

struct AssembleRequest {
    std::filesystem::path patchDir;
    std::filesystem::path output;
    std::filesystem::path binDir;  // where Mendwell and the embedded helpers are taken from
    std::filesystem::path signKey;  // an Ed25519 private key (PEM): the patcher is signed with it
    std::string signer;             // the signer's display name; the key file's name when empty
    // Carry config.xml and manifest.xml even when the patcher would refuse or pass over part of them:
    // for tests of the patcher's own refusals.
    bool unchecked = false;
};

// One resource of the patcher and where its bytes come from.
struct ResourcePlan {
    win::ResourceId type;
    std::uint16_t id = 100;
    std::string what;  // for messages: "config.xml", "the QUD library", ...
    std::filesystem::path source;
    bool zipFolder = false;  // the source is a folder to zip
    std::string zipPrefix;   // put before every entry name
};

class Assembler {
  public:
    explicit Assembler(AssembleRequest request) : request_(std::move(request)) {}

    // Decides what goes in. Required inputs that are missing are collected in missing().
    void plan();
    const std::vector<ResourcePlan>& resources() const { return plan_; }
    const std::vector<std::string>& missing() const { return missing_; }
    std::filesystem::path program() const { return request_.binDir / "Mendwell"; }

    // Plans, checks every input and writes the patcher. Nothing is written when an input is missing or
    // cannot be read. Messages go to `out` (what was embedded) and `err` (what went wrong).
    bool run(std::ostream& out, std::ostream& err);

  private:
    void optionalFromBin(const win::ResourceId& type, std::uint16_t id, const std::string& what,
                         std::initializer_list<const char*> names);

    AssembleRequest request_;
    std::vector<ResourcePlan> plan_;
    std::vector<std::string> missing_;
};

}  // namespace mwbuild
