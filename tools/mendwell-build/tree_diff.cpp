#include "tools/mendwell-build/tree_diff.h"

#include <fnmatch.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "mendwell/files/versioners.h"
#include "platform/text/text.h"
#include "platform/xmldom/xmldom.h"
#include "tools/mendwell-build/difference_jobs.h"
#include "tools/mendwell-build/host_view.h"

namespace mwbuild {
namespace fs = std::filesystem;

namespace {

// Longest path below the install folder we accept: Windows refuses file paths of 260 characters or more,
// and the install folder itself needs room ("C:\Program Files\Orvex\Lumen TX4\" is 34).
constexpr std::size_t kMaxRelativePath = 200;

struct Entry {
    std::string rel;  // '/'-separated, as found on disk
    std::uintmax_t size = 0;
    std::string md5;
    fs::path host;
};

struct Tree {
    std::map<std::string, Entry> files;  // key: lower-case relative path
    std::set<std::string> folders;       // lower-case relative paths
    std::map<std::string, std::string> folderNames;
};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool md5File(const fs::path& path, std::string& hex) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr);
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &length);
    static const char digits[] = "0123456789abcdef";
    hex.clear();
    for (unsigned i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return true;
}

bool readBytes(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return !in.bad();
}

bool validUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (more < 0 || i + static_cast<std::size_t>(more) >= text.size()) return false;
        for (std::size_t k = 1; k <= static_cast<std::size_t>(more); ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        i += static_cast<std::size_t>(more) + 1;
    }
    return true;
}

// What Windows will not take as a name, or takes as a device; names go into the manifest as UTF-8.
std::string nameProblem(const std::string& name) {
    if (name.empty()) return "an empty name";
    if (!validUtf8(name)) return "a name that is not UTF-8";
    if (name.size() > 255) return "a name longer than 255 characters";
    for (unsigned char c : name)
        if (c < 32 || std::string("<>:\"|?*\\").find(static_cast<char>(c)) != std::string::npos)
            return "a character Windows does not allow in names";
    if (name.back() == '.' || name.back() == ' ') return "a name ending in a dot or a blank";
    std::string stem = lower(name.substr(0, name.find('.')));
    static const std::set<std::string> devices = {"con", "prn", "aux", "nul"};
    if (devices.count(stem) || ((stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) &&
                                stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9'))
        return "a reserved device name";
    return "";
}

class Walker {
  public:
    Walker(std::ostream& err, std::ostream& out, bool& ok) : err_(err), out_(out), ok_(ok) {}

    Tree walk(const fs::path& root, const char* which) {
        Tree tree;
        std::vector<fs::path> paths;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
             !ec && it != end; it.increment(ec))
            paths.push_back(it->path());
        if (ec)
            fail(std::string("cannot read the ") + which + " tree: " + root.string() + ": " + ec.message());
        std::sort(paths.begin(), paths.end());
        for (const fs::path& p : paths) {
            const std::string rel = fs::relative(p, root).generic_string();
            const std::string key = lower(rel);
            const fs::file_status st = fs::symlink_status(p, ec);
            if (fs::is_symlink(st)) {
                fail("a symbolic link cannot be carried by a patch: " + p.string());
                continue;
            }
            for (const auto& part : fs::path(rel))
                if (std::string why = nameProblem(part.string()); !why.empty()) fail(p.string() + ": " + why);
            if (rel.size() > kMaxRelativePath)
                fail(p.string() + ": the path below the install folder is longer than " +
                     std::to_string(kMaxRelativePath) + " characters");
            if (fs::is_directory(st)) {
                if (tree.files.count(key) || !tree.folders.insert(key).second)
                    fail(p.string() + ": names differing only in letter case are one folder on Windows");
                tree.folderNames[key] = rel;
                continue;
            }
            if (!fs::is_regular_file(st)) {
                fail("not a regular file: " + p.string());
                continue;
            }
            Entry e{rel, fs::file_size(p, ec), "", p};
            if (!md5File(p, e.md5)) {
                fail("cannot read " + p.string());
                continue;
            }
            if (tree.files.count(key) || tree.folders.count(key)) {
                fail(p.string() + ": names differing only in letter case are one file on Windows");
                continue;
            }
            tree.files.emplace(key, std::move(e));
            if (++count_ % 100 == 0) progress(which);
        }
        progress(which);
        if (isatty(2)) err_ << "\n";
        return tree;
    }

    void fail(const std::string& message) {
        err_ << "mendwell-build: " << message << "\n";
        ok_ = false;
    }

  private:
    void progress(const char* which) {
        if (isatty(2))
            err_ << "\rreading the " << which << " tree: " << count_ << " files" << std::flush;
        else if (count_ % 100 == 0 && count_ > 0)
            out_ << "  " << count_ << " files read\n";
    }

    std::ostream& err_;
    std::ostream& out_;
    bool& ok_;
    std::size_t count_ = 0;
};

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string windowsRel(std::string rel) {
    std::replace(rel.begin(), rel.end(), '/', '\\');
    return rel;
}

struct FileEntry {
    std::string operation;
    int object = 0;
    std::string destination;  // relative, '/'
    std::string rename;       // relative, '/' (rename only)
    std::string before, after;
};

class ManifestText {
  public:
    explicit ManifestText(std::string token) : token_(std::move(token)) {}

    void file(const FileEntry& e) {
        files_ += "    <File>\n      <Operation>" + e.operation + "</Operation>\n      <ObjectName>" +
                  std::to_string(e.object) + "</ObjectName>\n";
        files_ += "      " + pathElement("DestinationPath", e.destination) + "\n";
        if (!e.rename.empty()) files_ += "      " + pathElement("RenamePath", e.rename) + "\n";
        if (!e.before.empty() || !e.after.empty()) {
            files_ += "      <Checksum>";
            if (!e.before.empty()) files_ += "<BeforePatch>" + e.before + "</BeforePatch>";
            if (!e.after.empty()) files_ += "<AfterPatch>" + e.after + "</AfterPatch>";
            files_ += "</Checksum>\n";
        }
        files_ += "    </File>\n";
    }

    void directory(const char* operation, const std::string& rel, const std::string& tree) {
        directories_ += std::string("    <Directory>\n      <Operation>") + operation +
                        "</Operation>\n      <DirectoryBase>" + xmlEscape(folderOf(rel)) +
                        "</DirectoryBase>\n      <SubDirectoryTree>" + xmlEscape(windowsRel(tree)) +
                        "</SubDirectoryTree>\n    </Directory>\n";
    }

    // Entries authors write by hand, copied from the extras file as they stand.
    void extra(const std::string& set, const std::string& element) {
        extras_[set] += "    " + element + "\n";
    }
    void addRemoveInfo(const std::string& element) { addRemove_ = "  " + element + "\n"; }

    std::string text() const {
        std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Manifest>\n";
        out += section("ServiceSet", extrasOf("ServiceSet"));
        out += section("FileSet", files_);
        out += section("DirectorySet", directories_ + extrasOf("DirectorySet"));
        out += section("PDSSet", extrasOf("PDSSet"));
        out += addRemove_;
        return out + "</Manifest>\n";
    }

  private:
    std::string folderOf(const std::string& rel) const {
        return rel.empty() ? token_ : token_ + "\\" + windowsRel(rel);
    }
    std::string pathElement(const char* name, const std::string& rel) const {
        const std::size_t cut = rel.rfind('/');
        const std::string folder = cut == std::string::npos ? "" : rel.substr(0, cut);
        const std::string file = cut == std::string::npos ? rel : rel.substr(cut + 1);
        return std::string("<") + name + " dir=\"" + xmlEscape(folderOf(folder)) + "\" defName=\"" +
               xmlEscape(file) + "\"/>";
    }
    std::string extrasOf(const std::string& set) const {
        const auto found = extras_.find(set);
        return found == extras_.end() ? "" : found->second;
    }
    static std::string section(const char* name, const std::string& body) {
        if (body.empty()) return std::string("  <") + name + "/>\n";
        return std::string("  <") + name + ">\n" + body + "  </" + name + ">\n";
    }

    std::string token_;
    std::string files_, directories_, addRemove_;
    std::map<std::string, std::string> extras_;
};

bool readExtras(const fs::path& path, ManifestText& manifest, std::ostream& err) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return true;
    std::string bytes;
    win::xml::Document doc;
    if (!readBytes(path, bytes) || !doc.parse(bytes) || doc.root().name() != L"Manifest") {
        err << "mendwell-build: " << path.string()
            << ": not a well-formed extras file (a Manifest element holding ServiceSet, DirectorySet, PDSSet "
               "or AddRemoveInfo)\n";
        return false;
    }
    for (const win::xml::Node& set : doc.root().children()) {
        const std::string name = win::toUtf8(set.name());
        if (name == "AddRemoveInfo") {
            manifest.addRemoveInfo(win::toUtf8(set.toString()));
        } else if (name == "ServiceSet" || name == "DirectorySet" || name == "PDSSet") {
            for (const win::xml::Node& e : set.children()) manifest.extra(name, win::toUtf8(e.toString()));
        } else {
            err << "mendwell-build: " << path.string() << ": unknown element " << name << "\n";
            return false;
        }
    }
    return true;
}

std::vector<std::string> readRules(const fs::path& path, std::ostream& err, bool& ok) {
    std::vector<std::string> globs;
    if (path.empty()) return globs;
    std::ifstream in(path);
    if (!in) {
        err << "mendwell-build: cannot read the rule file " << path.string() << "\n";
        ok = false;
        return globs;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string verb, glob;
        words >> verb >> glob;
        if (verb != "blindoverwrite" || glob.empty()) {
            err << "mendwell-build: " << path.string() << ":" << number
                << ": expected \"blindoverwrite GLOB\"\n";
            ok = false;
            continue;
        }
        globs.push_back(lower(glob));
    }
    return globs;
}

bool matchesAny(const std::vector<std::string>& globs, const std::string& rel) {
    for (const std::string& g : globs)
        if (fnmatch(g.c_str(), lower(rel).c_str(), 0) == 0) return true;
    return false;
}

// The folders of the install folder as the file entries leave them, by lower-case relative path.
class FolderState {
  public:
    explicit FolderState(const Tree& old) : folders_(old.folders) {
        for (const auto& item : old.files) files_.insert(item.first);
    }
    void move(const std::string& from, const std::string& to) {
        files_.erase(from);
        add(to);
    }
    void add(const std::string& file) {
        files_.insert(file);
        for (std::string folder = parent(file); !folder.empty(); folder = parent(folder))
            folders_.insert(folder);
    }
    void remove(const std::string& file) {
        files_.erase(file);
        for (std::string folder = parent(file); !folder.empty() && !holdsAnything(folder);
             folder = parent(folder))
            folders_.erase(folder);
    }
    bool hasFolder(const std::string& key) const { return folders_.count(key) != 0; }
    const std::set<std::string>& folders() const { return folders_; }

  private:
    static std::string parent(const std::string& key) {
        const std::size_t cut = key.rfind('/');
        return cut == std::string::npos ? std::string() : key.substr(0, cut);
    }
    static bool holdsIn(const std::set<std::string>& keys, const std::string& folder) {
        const auto next = keys.lower_bound(folder + "/");
        return next != keys.end() && next->compare(0, folder.size() + 1, folder + "/") == 0;
    }
    bool holdsAnything(const std::string& folder) const {
        return holdsIn(files_, folder) || holdsIn(folders_, folder);
    }

    std::set<std::string> files_;
    std::set<std::string> folders_;
};

// A blind overwrite leaves a newer installed file alone only when the patcher can read versions: those
// of the file versioners, else the version resource. Without either it replaces whatever is there.
bool carriesVersion(HostView& view, const fs::path& file, std::string& error) {
    const std::wstring path = view.hostFile(file, error);
    if (path.empty()) return false;
    mw::versioning::FileVersion version;
    int kind = mw::versioning::kindNone;
    if (mw::versioning::getFileVersion(win::toUtf8(path).c_str(), &version, &kind) ==
        mw::versioning::versionRecognised)
        return true;
    std::wstring text;
    return mw::versioning::osFileVersionText(path, text) == 0;
}

bool inside(const fs::path& inner, const fs::path& outer) {
    const std::string a = inner.string() + "/";
    const std::string b = outer.string() + "/";
    return a.compare(0, b.size(), b) == 0;
}

}  // namespace

bool diffTrees(const DiffRequest& request, std::ostream& out, std::ostream& err, DiffSummary& summary) {
    bool ok = true;
    Walker walker(err, out, ok);
    std::error_code ec;
    for (const auto* tree : {&request.oldTree, &request.newTree})
        if (!fs::is_directory(*tree, ec)) walker.fail("not a folder: " + tree->string());
    if (!fs::is_regular_file(request.config, ec))
        walker.fail("cannot read config.xml: " + request.config.string());
    if (!ok) return false;
    const fs::path oldRoot = fs::canonical(request.oldTree, ec);
    const fs::path newRoot = fs::canonical(request.newTree, ec);
    if (inside(newRoot, oldRoot) || inside(oldRoot, newRoot)) {
        walker.fail("one tree lies inside the other: " + oldRoot.string() + " and " + newRoot.string());
        return false;
    }
    const fs::path output = fs::absolute(request.output);
    if (fs::exists(output, ec) && !fs::is_empty(output, ec)) {
        walker.fail("the output folder is not empty: " + output.string());
        return false;
    }
    if (inside(output, oldRoot) || inside(output, newRoot)) {
        walker.fail("the output folder lies inside a tree: " + output.string());
        return false;
    }
    const fs::path qdiff = request.binDir / "qdiff";
    const bool canPatch = fs::is_regular_file(qdiff, ec);
    if (!canPatch)
        out << "  qdiff not found in " << request.binDir.string() << ": changed files are overwritten\n";

    const std::vector<std::string> globs = readRules(request.rules, err, ok);
    const Tree oldTree = walker.walk(oldRoot, "old");
    const Tree newTree = walker.walk(newRoot, "new");
    ManifestText manifest(win::toUtf8(request.installToken));
    const fs::path extras =
        request.extras.empty() ? request.config.parent_path() / "patch-extras.xml" : request.extras;
    if (!ok || !readExtras(extras, manifest, err)) return false;

    fs::create_directories(output / "payload", ec);
    if (ec) {
        walker.fail("cannot create " + (output / "payload").string() + ": " + ec.message());
        return false;
    }
    int object = 0;
    auto stage = [&](const fs::path& source, int number) {
        fs::copy_file(source, output / "payload" / std::to_string(number), ec);
        if (ec) walker.fail("cannot write the payload: " + ec.message());
        summary.payloadBytes += fs::file_size(output / "payload" / std::to_string(number), ec);
    };

    // Files gone from the old tree whose bytes reappear under a new name are renamed, not sent again.
    std::map<std::pair<std::uintmax_t, std::string>, std::vector<const Entry*>> gone;
    for (const auto& [key, e] : oldTree.files)
        if (!newTree.files.count(key)) gone[{e.size, e.md5}].push_back(&e);
    std::set<std::string> renamedFrom, renamedTo;
    std::vector<std::pair<std::string, std::string>> renames;  // in entry order, lower-case
    std::vector<std::string> removes, adds;
    for (const auto& [key, e] : newTree.files) {
        if (oldTree.files.count(key)) continue;
        auto found = gone.find({e.size, e.md5});
        if (found == gone.end() || found->second.empty()) continue;
        const Entry* from = found->second.front();
        found->second.erase(found->second.begin());
        renamedFrom.insert(lower(from->rel));
        renamedTo.insert(key);
        renames.emplace_back(lower(from->rel), key);
        manifest.file({"rename", ++object, from->rel, e.rel, e.md5, e.md5});
        ++summary.renamed;
    }
    for (const auto& [key, e] : oldTree.files) {
        if (newTree.files.count(key) || renamedFrom.count(key)) continue;
        manifest.file({"remove", ++object, e.rel, "", e.md5, ""});
        removes.push_back(key);
        ++summary.removed;
    }
    // The differences first, all at once: the entry numbers the loop below gives, for every changed file
    // that no rule overwrites.
    std::vector<DifferenceJob> jobs;
    std::map<int, std::size_t> jobOf;  // entry number -> job
    if (canPatch) {
        int number = object;
        for (const auto& [key, e] : newTree.files) {
            if (renamedTo.count(key)) continue;
            const auto old = oldTree.files.find(key);
            if (old == oldTree.files.end()) {
                ++number;
                continue;
            }
            if (old->second.size == e.size && old->second.md5 == e.md5) continue;
            ++number;
            if (matchesAny(globs, e.rel)) continue;
            jobOf[number] = jobs.size();
            jobs.push_back({old->second.host, e.host, output / "payload" / std::to_string(number),
                            fs::path(e.rel).filename().string()});
        }
        runDifferenceJobs(qdiff, jobs, request.jobs, request.progress, out);
    }
    std::size_t done = 0;
    HostView view;  // a scratch machine, made only when a rule matches
    for (const auto& [key, e] : newTree.files) {
        if (++done % 100 == 0) out << "  " << done << " of " << newTree.files.size() << " files compared\n";
        if (renamedTo.count(key)) continue;
        const auto old = oldTree.files.find(key);
        if (old == oldTree.files.end()) {
            manifest.file({"add", ++object, e.rel, "", "", e.md5});
            adds.push_back(key);
            stage(e.host, object);
            ++summary.added;
            continue;
        }
        if (old->second.size == e.size && old->second.md5 == e.md5) {
            ++summary.unchanged;
            continue;
        }
        const int number = ++object;
        if (matchesAny(globs, e.rel)) {
            std::string error;
            if (!carriesVersion(view, e.host, error)) {
                walker.fail(
                    e.host.string() +
                    ": matched by a blindoverwrite rule, but it carries no version the patcher reads (no "
                    "file versioner recognises it and it has no version resource), so a blind "
                    "overwrite would replace whatever is installed" +
                    (error.empty() ? "" : " (" + error + ")"));
                continue;
            }
            manifest.file({"blindoverwrite", number, e.rel, "", "", e.md5});
            stage(e.host, number);
            ++summary.blind;
            continue;
        }
        const auto job = jobOf.find(number);
        const bool patched = job != jobOf.end() && jobs[job->second].patched;
        if (patched) {
            summary.payloadBytes += jobs[job->second].size;
            manifest.file({"patch", number, e.rel, "", old->second.md5, e.md5});
            ++summary.patched;
        } else {
            manifest.file({"overwrite", number, e.rel, "", old->second.md5, e.md5});
            stage(e.host, number);
            ++summary.overwritten;
        }
    }
    // Folders: the file entries' effect on folders is played through (a rename or an add makes the
    // folders it needs, a remove prunes the folders it empties, nothing else prunes), then the folders of
    // the new tree still missing are added and the old ones still there removed, innermost first.
    FolderState state(oldTree);
    for (const auto& [from, to] : renames) state.move(from, to);
    for (const std::string& key : removes) state.remove(key);
    for (const std::string& key : adds) state.add(key);
    for (const std::string& key : newTree.folders) {
        if (state.hasFolder(key)) continue;
        // A deeper missing folder's add makes this one too.
        bool deeperMissing = false;
        for (auto it = newTree.folders.lower_bound(key + "/");
             it != newTree.folders.end() && it->compare(0, key.size() + 1, key + "/") == 0; ++it)
            deeperMissing = deeperMissing || !state.hasFolder(*it);
        if (deeperMissing) continue;
        manifest.directory("add", newTree.folderNames.at(key), "");
        ++summary.foldersAdded;
    }
    for (auto it = state.folders().rbegin(); it != state.folders().rend(); ++it) {
        if (newTree.folders.count(*it)) continue;
        const std::string& rel = oldTree.folderNames.at(*it);
        manifest.directory("remove", rel, fs::path(rel).filename().string());
        ++summary.foldersRemoved;
    }

    std::ofstream(output / "manifest.xml", std::ios::binary) << manifest.text();
    fs::copy_file(request.config, output / "config.xml", fs::copy_options::overwrite_existing, ec);
    if (ec) walker.fail("cannot copy config.xml: " + ec.message());
    if (!ok) {
        fs::remove_all(output, ec);
        return false;
    }
    out << "wrote " << output.string() << ": " << summary.added << " added, " << summary.removed
        << " removed, " << summary.renamed << " renamed, " << summary.patched << " patched, "
        << summary.overwritten << " overwritten, " << summary.blind << " blind-overwritten, "
        << summary.unchanged << " unchanged; " << summary.foldersAdded << " folders added, "
        << summary.foldersRemoved << " removed; payload " << summary.payloadBytes << " bytes\n";
    return true;
}

}  // namespace mwbuild
