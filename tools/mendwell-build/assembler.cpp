#include "tools/mendwell-build/assembler.h"

#include <fstream>
#include <iterator>
#include <ostream>

#include "tools/mendwell-build/signing.h"
#include "tools/mendwell-build/input_check.h"
#include "tools/mendwell-build/zip_writer.h"

namespace mwbuild {
namespace fs = std::filesystem;

namespace {

bool readWhole(const fs::path& file, std::vector<std::uint8_t>& bytes) {
    // One read of the whole size: byte by byte, the libraries take seconds in a sanitized build.
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return false;
    bytes.resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<std::size_t>(in.gcount()) == bytes.size();
}

std::string typeName(const win::ResourceId& type) {
    if (const auto* name = std::get_if<std::wstring>(&type)) return std::string(name->begin(), name->end());
    return std::to_string(std::get<std::uint16_t>(type));
}

}  // namespace

void Assembler::optionalFromBin(const win::ResourceId& type, std::uint16_t id, const std::string& what,
                                std::initializer_list<const char*> names) {
    for (const char* name : names) {
        fs::path candidate = request_.binDir / name;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) {
            plan_.push_back({type, id, what, candidate, false, ""});
            return;
        }
    }
}

void Assembler::plan() {
    plan_.clear();
    missing_.clear();
    std::error_code ec;
    if (!fs::is_regular_file(program(), ec))
        missing_.push_back("the Mendwell program: " + program().string());

    const fs::path config = request_.patchDir / "config.xml";
    const fs::path manifest = request_.patchDir / "manifest.xml";
    const fs::path payload = request_.patchDir / "payload";
    if (!fs::is_regular_file(config, ec)) missing_.push_back("config.xml: " + config.string());
    if (!fs::is_regular_file(manifest, ec)) missing_.push_back("manifest.xml: " + manifest.string());
    if (!fs::is_directory(payload, ec)) missing_.push_back("the payload folder: " + payload.string());

    plan_.push_back({std::wstring(L"CONFIG"), 100, "config.xml", config, false, ""});
    plan_.push_back({std::wstring(L"MANIFEST"), 100, "manifest.xml", manifest, false, ""});
    plan_.push_back({std::wstring(L"PATCHFILES"), 100, "the payload archive", payload, true, ""});

    // Dictionaries: the patch folder's own, else an archive the build made.
    const fs::path dictionaries = request_.patchDir / "TVRLocalization";
    if (fs::is_directory(dictionaries, ec)) {
        plan_.push_back({std::wstring(L"TVRLOCALIZEDSTRINGS"), 100, "the string dictionaries", dictionaries,
                         true, "TVRLocalization/"});
    } else {
        optionalFromBin(std::wstring(L"TVRLOCALIZEDSTRINGS"), 100, "the string dictionaries",
                        {"TVRLocalizedStrings.zip"});
    }
    // Helpers the build has made so far; each is embedded as soon as it exists.
    optionalFromBin(std::wstring(L"TALLY"), 100, "the product database library",
                    {"orvex_tally.so", "liborvex_tally.so"});
    optionalFromBin(std::wstring(L"QUADRELFILES"), 100, "the patch tool", {"patch"});
    optionalFromBin(std::wstring(L"QUADRELFILES"), 200, "the patch engine library",
                    {"quadw32.dll", "quadw32.so", "libquadw32.so"});
    optionalFromBin(std::wstring(L"QUDLIB"), 100, "the QUD library", {"Verdicta.so", "libVerdicta.so"});
}

bool Assembler::run(std::ostream& out, std::ostream& err) {
    plan();
    if (!missing_.empty()) {
        for (const auto& m : missing_) err << "mendwell-build: missing " << m << "\n";
        err << "mendwell-build: nothing written\n";
        return false;
    }
    if (!request_.unchecked) {
        std::vector<std::uint8_t> config, manifest;
        readWhole(request_.patchDir / "config.xml", config);
        readWhole(request_.patchDir / "manifest.xml", manifest);
        std::vector<std::string> findings = checkConfig(std::string(config.begin(), config.end()));
        for (std::string& f : checkManifest(std::string(manifest.begin(), manifest.end())))
            findings.push_back(std::move(f));
        if (!findings.empty()) {
            for (const auto& f : findings) err << "mendwell-build: " << f << "\n";
            err << "mendwell-build: nothing written\n";
            return false;
        }
    }
    SigningKey key;
    std::string keyError;
    if (!request_.signKey.empty() && !key.load(request_.signKey, request_.signer, keyError)) {
        err << "mendwell-build: " << keyError << "\nmendwell-build: nothing written\n";
        return false;
    }
    win::ResourceWriter writer;
    for (const auto& r : plan_) {
        std::vector<std::uint8_t> data;
        std::string error;
        if (r.zipFolder) {
            if (!zipFolder(r.source, r.zipPrefix, data, error)) {
                err << "mendwell-build: " << r.what << ": " << error << "\nmendwell-build: nothing written\n";
                return false;
            }
        } else if (!readWhole(r.source, data)) {
            err << "mendwell-build: cannot read " << r.what << ": " << r.source.string()
                << "\nmendwell-build: nothing written\n";
            return false;
        }
        out << "  " << typeName(r.type) << "/" << r.id << "  " << r.what << " (" << data.size()
            << " bytes)\n";
        writer.add(r.type, r.id, win::kLangNeutral, std::move(data));
    }
    std::string error;
    if (!writer.write(program(), request_.output, error)) {
        err << "mendwell-build: " << error << "\n";
        return false;
    }
    if (!request_.signKey.empty()) {
        // The signature covers the patcher as written, read back the way the patcher reads itself; it
        // goes last, so nothing it speaks for moves.
        mw::PatcherSignature signature;
        if (!key.sign(request_.output, signature, error)) {
            std::error_code ec;
            fs::remove(request_.output, ec);
            err << "mendwell-build: " << error << "\nmendwell-build: nothing written\n";
            return false;
        }
        writer.add(std::wstring(mw::kSignatureType), mw::kSignatureId, win::kLangNeutral,
                   mw::signatureResource(signature));
        if (!writer.write(program(), request_.output, error)) {
            err << "mendwell-build: " << error << "\n";
            return false;
        }
        out << "  SIGNATURE/" << mw::kSignatureId << "  signed by " << signature.signer << " (key "
            << mw::keyFingerprint(signature.publicKey) << ")\n";
    }
    out << "wrote " << request_.output.string() << "\n";
    return true;
}

}  // namespace mwbuild
