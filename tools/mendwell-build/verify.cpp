#include "tools/mendwell-build/verify.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "platform/xmldom/xmldom.h"

extern char** environ;

namespace mwbuild {
namespace fs = std::filesystem;

namespace {

struct PatchFacts {
    std::string productCode;
    std::string oldVersion;
    std::wstring productName;
    int entries = 0;  // entries a run meets, in the order fault injection counts them
};

std::string text(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

bool readFacts(const fs::path& patcher, PatchFacts& facts, std::ostream& err) {
    win::Module module;
    if (!module.open(patcher)) {
        err << "mendwell-build: not a patcher (no resource table): " << patcher.string() << "\n";
        return false;
    }
    win::xml::Document config, manifest;
    if (!config.parse(text(module.find(std::wstring(L"CONFIG"), 100))) ||
        !manifest.parse(text(module.find(std::wstring(L"MANIFEST"), 100)))) {
        err << "mendwell-build: the patcher's config.xml or manifest.xml does not read: " << patcher.string()
            << "\n";
        return false;
    }
    facts.productCode = win::toUtf8(config.selectFirst(L"/PatcherConfig/ProductData/OrvexCode/GUID").text());
    facts.oldVersion = win::toUtf8(config.selectFirst(L"/PatcherConfig/ProductData/OldVersion").text());
    facts.productName = config.selectFirst(L"/PatcherConfig/Name").text();
    const auto count = [&](const wchar_t* path) { return static_cast<int>(manifest.select(path).size()); };
    facts.entries = 2 * count(L"/Manifest/ServiceSet/Service") + count(L"/Manifest/FileSet/File") +
                    count(L"/Manifest/DirectorySet/Directory") + count(L"/Manifest/PDSSet/PDS") +
                    count(L"/Manifest/AddRemoveInfo");
    if (facts.productCode.empty() || facts.oldVersion.empty()) {
        err << "mendwell-build: the patcher's config.xml names no product code or old version\n";
        return false;
    }
    return true;
}

struct Ran {
    int code = -1;
    std::string output;
};

Ran runTool(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!env.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
    }
    for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp, argv;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> copy = args;
    for (auto& s : copy) argv.push_back(s.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    Ran ran;
    if (pipe(pipeFds) != 0) return ran;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc == 0) {
        char buffer[4096];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) ran.output.append(buffer, n);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ran.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    close(pipeFds[0]);
    return ran;
}

// Relative path -> host path; folders end in "/".
std::map<std::string, fs::path> listing(const fs::path& root) {
    std::map<std::string, fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), root).generic_string();
        files[it->is_directory() ? rel + "/" : rel] = it->path();
    }
    return files;
}

// Byte for byte, a chunk at a time: trees of any size are compared in little memory.
bool sameBytes(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::file_size(a, ec) != fs::file_size(b, ec)) return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
    }
    return !fa.bad() && !fb.bad() && fa.eof() && fb.eof();
}

// Compares case-insensitively by name (one file on Windows), byte for byte by content.
std::vector<std::string> differences(const fs::path& actual, const fs::path& expected) {
    auto lowerKeys = [](const std::map<std::string, fs::path>& in) {
        std::map<std::string, std::pair<std::string, fs::path>> out;
        for (const auto& [k, v] : in) {
            std::string key = k;
            std::transform(key.begin(), key.end(), key.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            out[key] = {k, v};
        }
        return out;
    };
    const auto la = lowerKeys(listing(actual)), le = lowerKeys(listing(expected));
    std::vector<std::string> out;
    for (const auto& [key, item] : le) {
        const auto found = la.find(key);
        if (found == la.end())
            out.push_back("missing: " + item.first);
        else if (key.back() != '/' && !sameBytes(found->second.second, item.second))
            out.push_back("different bytes: " + item.first);
    }
    for (const auto& [key, item] : la)
        if (!le.count(key)) out.push_back("not expected: " + item.first);
    return out;
}

class Trial {
  public:
    Trial(const VerifyRequest& request, const PatchFacts& facts, const fs::path& root)
        : request_(request), facts_(facts), machine_(root) {}

    // A fresh machine with the product registered and the old tree in its install folder.
    bool prepare(std::ostream& err) {
        const std::map<std::string, std::string> env = {{"MENDWELL_MACHINE", machine_.string()}};
        // A machine for tests: the failed run below is made through the patcher's fault hook.
        Ran r = runTool({(request_.binDir / "machine").string(), "create", machine_.string(), "--test"}, env);
        const std::string install = win::toUtf8(installDir());
        if (r.code == 0)
            r = runTool({(request_.binDir / "tally").string(), "add", facts_.productCode, "--installdir",
                         install, "--version", facts_.oldVersion, "--language", "en_US"},
                        env);
        if (r.code == 0) r = runTool({(request_.binDir / "machine").string(), "path", install}, env);
        if (r.code != 0) {
            err << "mendwell-build: cannot prepare a machine in " << machine_.string() << ":\n" << r.output;
            return false;
        }
        std::string host = r.output;
        while (!host.empty() && (host.back() == '\n' || host.back() == '\r')) host.pop_back();
        installHost_ = host;
        std::error_code ec;
        fs::create_directories(installHost_, ec);
        fs::copy(request_.oldTree, installHost_, fs::copy_options::recursive, ec);
        if (ec) {
            err << "mendwell-build: cannot copy the old tree: " << ec.message() << "\n";
            return false;
        }
        return true;
    }

    Ran runPatcher(const std::string& fault) {
        std::map<std::string, std::string> env = {{"MENDWELL_MACHINE", machine_.string()}};
        if (!fault.empty()) env["MENDWELL_FAULT"] = fault;
        return runTool({request_.patcher.string(), "-SILENT"}, env);
    }

    const fs::path& installHost() const { return installHost_; }

  private:
    std::wstring installDir() const {
        return request_.installDir.empty() ? L"C:\\Program Files\\Orvex\\" + facts_.productName
                                           : request_.installDir;
    }

    const VerifyRequest& request_;
    const PatchFacts& facts_;
    fs::path machine_;
    fs::path installHost_;
};

bool report(const char* what, const std::vector<std::string>& diffs, std::ostream& out) {
    if (diffs.empty()) {
        out << "  " << what << ": identical\n";
        return true;
    }
    out << "  " << what << ": " << diffs.size() << " difference(s)\n";
    for (std::size_t i = 0; i < diffs.size() && i < 20; ++i) out << "    " << diffs[i] << "\n";
    return false;
}

}  // namespace

bool verifyPatcher(const VerifyRequest& request, std::ostream& out, std::ostream& err) {
    PatchFacts facts;
    if (!readFacts(request.patcher, facts, err)) return false;
    std::string pattern = (fs::temp_directory_path() / "mendwell-verify-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        err << "mendwell-build: cannot make a temporary folder\n";
        return false;
    }
    const fs::path root = pattern;
    bool ok = true;

    Trial patch(request, facts, root / "patched");
    if (!patch.prepare(err)) return false;
    const Ran applied = patch.runPatcher("");
    out << "patch run: return code " << applied.code << "\n";
    ok = applied.code == 0 && ok;
    ok = report("product against the new tree", differences(patch.installHost(), request.newTree), out) && ok;

    if (facts.entries == 0) {
        out << "rollback run: the patch has no entry to fail; skipped\n";
    } else {
        Trial failed(request, facts, root / "rolled-back");
        if (!failed.prepare(err)) return false;
        const Ran rolled = failed.runPatcher("fail:" + std::to_string(facts.entries));
        out << "run failing at its last entry (" << facts.entries << "): return code " << rolled.code << "\n";
        ok = rolled.code == 9 && ok;
        ok =
            report("product against the old tree", differences(failed.installHost(), request.oldTree), out) &&
            ok;
    }
    std::error_code ec;
    if (request.keep)
        out << "machines kept in " << root.string() << "\n";
    else
        fs::remove_all(root, ec);
    out << (ok ? "verify: passed\n" : "verify: FAILED\n");
    return ok;
}

}  // namespace mwbuild
