// The rollback checker: from a seed it draws a patch of every kind of entry, a machine to apply it on
// and a fault, runs it in one of the three modes, starts the patcher again, and checks the one promise:
// the product is exactly as it was or exactly as the same patch leaves it on an untouched machine, no
// journal is left, and the patch then runs as it would have. The same case without a fault on a second
// machine gives the "new" state, so nothing here models what an entry should do.
//
// The fixed seeds run in every test run. ./build.sh chaos [SECONDS] runs OpenFindings, MoreSeeds and
// new seeds (DISABLED_Chaos); ./build.sh chaos --seed N runs one seed again.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>

#include "mendwell/files/checksum.h"
#include "mendwell/records/patch_history.h"
#include "platform/fs/file.h"
#include "platform/registry/registry.h"
#include "platform/services/services.h"
#include "platform/system/system.h"
#include "platform/text/text.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;

const char* const kUninstallCode = "{7E2B9C40-1A5D-4F3E-8B6C-0D9E2F4A1B37}";
const std::wstring kUninstallKey =
    std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
    win::fromUtf8(kUninstallCode);
const std::wstring kProductKey = L"SOFTWARE\\Orvex\\Lumen\\9.0";

// splitmix64: the same cases from the same seed on every compiler (the standard distributions are not).
struct Draw {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    bool percent(int p) { return below(100) < p; }
    template <class T>
    const T& among(const std::vector<T>& v) {
        return v[static_cast<std::size_t>(below(static_cast<int>(v.size())))];
    }
};

std::string md5(const std::string& bytes) {
    mw::cMD5 digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finish();
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A colour profile header the versioner reads: 36 bytes and more, the creation date at 24.
std::string colourProfile(int year, char fill) {
    std::string bytes(200, fill);
    bytes[24] = static_cast<char>(year >> 8);
    bytes[25] = static_cast<char>(year & 0xFF);
    for (int i = 26; i < 36; ++i) bytes[static_cast<std::size_t>(i)] = (i % 2) ? 1 : 0;
    return bytes;
}

struct ServiceSetup {
    std::string name;
    bool present = true;
    win::DWORD state = win::svcstate::running;
    win::ServiceBehaviour behaviour;
};

// One fault in one mode, tried on a fresh copy of the case's machine.
struct Trial {
    std::string fault;     // MENDWELL_FAULT of the run, "" for none
    int recoveryKill = 0;  // the recovering start is killed at this undo entry (killrollback)
    std::string mode;      // silent, update-manager or wizard
    bool cancel = false;   // wizard: the user cancels once the bar moves, and confirms
    std::string describe() const {
        return "mode " + mode + (cancel ? " (cancelled)" : "") + ", fault " +
               (fault.empty() ? "none" : fault) +
               (recoveryKill
                    ? ", then the recovering start killed (killrollback:" + std::to_string(recoveryKill) + ")"
                    : "");
    }
};
constexpr int kTrialsPerCase = 3;

// One drawn case: what the machine holds at the start, the patch, and the trials of it.
struct Case {
    std::uint64_t seed = 0;
    std::map<std::string, std::string> files;  // relative to the install folder -> bytes
    std::map<std::string, win::DWORD> attributes;
    std::vector<std::string> emptyFolders;
    std::vector<ServiceSetup> services;
    std::vector<std::wstring> deniedKeys;
    std::vector<std::string> held;  // files another process holds during the patch runs
    PatchFolder patch;
    int entries = 0;  // as the fault injection counts them
    bool binaryPatches = false;
    std::vector<Trial> trials;
    std::string describe() const;
};

std::string Case::describe() const {
    std::ostringstream out;
    out << "seed " << seed << ", " << entries << " entries\nmachine:";
    for (const auto& [name, bytes] : files)
        out << " " << name << "(" << bytes.size() << "b,attr " << attributes.at(name) << ")";
    for (const auto& f : emptyFolders) out << " " << f << "\\";
    for (const auto& s : services)
        out << " service " << s.name << (s.present ? "" : " absent") << " state " << s.state << " stopPolls "
            << s.behaviour.stopPendingPolls << " startPolls " << s.behaviour.startPendingPolls
            << (s.behaviour.refusesStop ? " refuses-stop" : "");
    for (const auto& k : deniedKeys) out << " denied " << win::toUtf8(k);
    for (const auto& h : held) out << " held " << h;
    out << "\nmanifest:\n" << patch.manifest;
    return out.str();
}

std::string dest(const std::string& rel) {
    const auto slash = rel.rfind('\\');
    const std::string dir = slash == std::string::npos ? "" : "\\" + rel.substr(0, slash);
    return "<DestinationPath dir=\"[INSTALLDIR]" + dir + "\" defName=\"" +
           (slash == std::string::npos ? rel : rel.substr(slash + 1)) + "\"/>";
}

std::string renamePath(const std::string& rel) {
    std::string d = dest(rel);
    return "<RenamePath" + d.substr(std::string("<DestinationPath").size());
}

std::string checksum(const std::string& before, const std::string& after) {
    if (before.empty() && after.empty()) return "";
    return "<Checksum>" + (before.empty() ? "" : "<BeforePatch>" + before + "</BeforePatch>") +
           (after.empty() ? "" : "<AfterPatch>" + after + "</AfterPatch>") + "</Checksum>";
}

// A binary difference made by the patch tool's own differ.
std::string binaryDiff(const std::string& oldBytes, const std::string& newBytes, const std::string& name) {
    TempDir dir;
    testing_support::writeHostFile(dir.path() / "old", oldBytes);
    testing_support::writeHostFile(dir.path() / "new", newBytes);
    auto r = testing_support::runProgram(testing_support::binDir() / "qdiff",
                                         {(dir.path() / "old").string(), (dir.path() / "new").string(),
                                          (dir.path() / "diff").string(), "--name", name});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return testing_support::readHostFile(dir.path() / "diff");
}

Case drawCase(std::uint64_t seed) {
    Draw d{seed};
    Case c;
    c.seed = seed;
    const std::vector<std::string> names = {"lumen.ini",
                                            "readme.txt",
                                            "bin\\lumen.dll",
                                            "bin\\core.dll",
                                            "bin\\Filters\\sharpen.flt",
                                            "help\\guide.txt",
                                            "Presets\\Default.preset",
                                            "Profiles\\Lumen.icm",
                                            "plugins\\a\\one.plg",
                                            "data\\table.dat"};
    for (const auto& name : names) {
        if (!d.percent(70)) continue;
        const bool profile = name.find(".icm") != std::string::npos;
        c.files[name] = profile ? colourProfile(2024, 'p')
                                : name + " of 9.0\r\n" +
                                      std::string(static_cast<std::size_t>(d.below(3000)),
                                                  static_cast<char>('a' + d.below(26)));
        win::DWORD a = 0;
        if (d.percent(25)) a |= win::attr::readOnly;
        if (d.percent(12)) a |= win::attr::hidden;
        if (d.percent(6)) a |= win::attr::system;
        c.attributes[name] = a;
    }
    if (c.files.empty()) c.files["lumen.ini"] = "[Lumen]\r\n", c.attributes["lumen.ini"] = 0;
    for (int i = d.below(3); i > 0; --i) c.emptyFolders.push_back("Empty" + std::to_string(i));

    // The product as each entry leaves it, so that later entries can name what earlier ones made.
    std::map<std::string, std::string> product = c.files;
    std::vector<std::string> freed;
    int object = 0, fresh = 0;
    const auto existing = [&] {
        auto it = product.begin();
        std::advance(it, d.below(static_cast<int>(product.size())));
        return it->first;
    };
    const auto newName = [&](bool allowFreed) {
        if (allowFreed && !freed.empty() && d.percent(50)) {
            const std::string n = d.among(freed);
            if (!product.count(n)) return n;
        }
        ++fresh;
        const std::vector<std::string> shapes = {"new\\added", "bin\\extra", "moved\\in\\renamed", "x"};
        const std::string shape = d.among(shapes);
        return shape + std::to_string(fresh) + (d.percent(10) ? ".icm" : ".txt");
    };
    // Sometimes an existing file is named in another letter case than on disk.
    const auto asWritten = [&](const std::string& rel) { return d.percent(15) ? upper(rel) : rel; };
    const auto payloadFor = [&](const std::string& rel) {
        if (rel.find(".icm") != std::string::npos || rel.find(".ICM") != std::string::npos)
            return colourProfile(2026, static_cast<char>('P' + d.below(8)));
        return rel + " of 9.0.3\r\n" + std::string(static_cast<std::size_t>(d.below(2000)), 'n');
    };

    std::string fileSet;
    const int fileEntries = 2 + d.below(9);
    for (int i = 0; i < fileEntries; ++i) {
        const std::string obj = std::to_string(++object);
        int op = d.below(7);
        if (product.empty()) op = 0;
        std::string entry;
        if (op == 0) {  // add
            const std::string rel = newName(true);
            const std::string bytes = payloadFor(rel);
            c.patch.payload[obj] = bytes;
            entry = "<Operation>add</Operation><ObjectName>" + obj + "</ObjectName>" + dest(rel) +
                    checksum("", d.percent(50) ? md5(bytes) : "");
            product[rel] = bytes;
        } else if (op == 1 || op == 2) {  // overwrite, blind overwrite (perhaps renaming)
            const std::string rel = existing();
            const std::string bytes = payloadFor(rel);
            c.patch.payload[obj] = bytes;
            const bool blind = op == 2;
            entry = std::string("<Operation>") + (blind ? "blindoverwrite" : "overwrite") +
                    "</Operation><ObjectName>" + obj + "</ObjectName>" + dest(asWritten(rel)) +
                    checksum(!blind && d.percent(50) ? md5(product[rel]) : "", "");
            if (blind && d.percent(35)) {
                // The move after the overwrite makes no folders: a new name in the same one.
                const auto slash = rel.rfind('\\');
                const std::string to = (slash == std::string::npos ? "" : rel.substr(0, slash + 1)) +
                                       "renamed" + std::to_string(++fresh) + ".txt";
                entry += renamePath(to);
                product.erase(rel);
                freed.push_back(rel);
                product[to] = bytes;
            } else {
                product[rel] = bytes;
            }
        } else if (op == 3) {  // remove
            const std::string rel = existing();
            entry = "<Operation>remove</Operation><ObjectName>" + obj + "</ObjectName>" +
                    dest(asWritten(rel)) + checksum(d.percent(30) ? md5(product[rel]) : "", "");
            product.erase(rel);
            freed.push_back(rel);
        } else if (op == 4) {  // rename
            const std::string rel = existing();
            const std::string to = newName(true);
            entry = "<Operation>rename</Operation><ObjectName>" + obj + "</ObjectName>" +
                    dest(asWritten(rel)) + renamePath(to) + checksum("", md5(product[rel]));
            product[to] = product[rel];
            product.erase(rel);
            freed.push_back(rel);
        } else if (op == 5) {  // touch
            const std::string rel = existing();
            entry = "<Operation>touch</Operation><ObjectName>" + obj + "</ObjectName>" + dest(asWritten(rel));
        } else {  // binary patch
            const std::string rel = existing();
            std::string bytes = product[rel];
            bytes.insert(bytes.size() / 2, "patched in 9.0.3");
            if (!bytes.empty()) bytes[0] = static_cast<char>(bytes[0] ^ 0x20);
            const auto slash = rel.rfind('\\');
            c.patch.payload[obj] =
                binaryDiff(product[rel], bytes, slash == std::string::npos ? rel : rel.substr(slash + 1));
            entry = "<Operation>patch</Operation><ObjectName>" + obj + "</ObjectName>" +
                    dest(asWritten(rel)) + checksum(md5(product[rel]), md5(bytes));
            product[rel] = bytes;
            c.binaryPatches = true;
        }
        fileSet += "<File>" + entry + "</File>\n";
    }

    std::string directorySet;
    int directories = 0;
    for (const auto& empty : c.emptyFolders) {
        if (!d.percent(60)) continue;
        ++directories;
        directorySet += "<Directory><Operation>remove</Operation><DirectoryBase>[INSTALLDIR]\\" + empty +
                        "</DirectoryBase><SubDirectoryTree>" + empty + "</SubDirectoryTree></Directory>\n";
    }
    if (d.percent(50)) {
        ++directories;
        directorySet +=
            "<Directory><Operation>add</Operation><DirectoryBase>[INSTALLDIR]\\Presets\\Publishing\\"
            "Print</DirectoryBase><SubDirectoryTree/></Directory>\n";
    }

    std::string registrySet;
    int registry = 0;
    const std::vector<std::string> keys = {
        "SOFTWARE\\Orvex\\Lumen\\9.0", "SOFTWARE\\Orvex\\Lumen\\9.0\\Plugins\\Inner",
        "SOFTWARE\\Orvex\\Lumen\\9.0\\New\\Sub", "SOFTWARE\\Orvex\\Shared"};
    std::set<std::string> touchedKeys;
    for (int i = d.below(5); i > 0; --i, ++registry) {
        const int op = d.below(4);
        const std::string key = d.among(keys);
        if (op <= 1) {
            const std::vector<std::pair<std::string, std::string>> values = {{"REG_SZ", "9.0.3"},
                                                                             {"REG_DWORD", "42"},
                                                                             {"REG_BINARY", "0A1B2C"},
                                                                             {"REG_SZ", "[INSTALLDIR]"}};
            const auto& [type, value] = d.among(values);
            const std::string name = d.among(std::vector<std::string>{"Version", "Level", "Made", "Blob"});
            registrySet += "<PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>" + key +
                           "</KeyPath><KeyName>" + name + "</KeyName><Value defValue=\"" + value +
                           "\"/><DataType>" + type + "</DataType></PDS>\n";
        } else if (op == 2) {
            registrySet += "<PDS><Operation>remove</Operation><Root>HKLM</Root><KeyPath>" + key +
                           "</KeyPath><KeyName>" +
                           d.among(std::vector<std::string>{"Obsolete", "Version", "Enabled"}) +
                           "</KeyName><Value/><DataType/><SubRegistryTree/></PDS>\n";
        } else {
            const bool plugins = d.percent(50);
            touchedKeys.insert(plugins ? "SOFTWARE\\Orvex\\Lumen\\9.0\\Plugins"
                                       : "SOFTWARE\\Orvex\\Lumen\\9.0\\Cache");
            registrySet +=
                std::string("<PDS><Operation>remove</Operation><Root>HKLM</Root><KeyPath>") +
                (plugins ? "SOFTWARE\\Orvex\\Lumen\\9.0\\Plugins" : "SOFTWARE\\Orvex\\Lumen\\9.0\\Cache") +
                "</KeyPath><KeyName>x</KeyName><Value/><DataType/><SubRegistryTree>" +
                (plugins ? "Plugins" : "Cache") + "</SubRegistryTree></PDS>\n";
        }
        if (op <= 2) touchedKeys.insert(key);
    }
    // A key the patch touches that the user may not change (only one that exists can be denied).
    for (const auto& key : touchedKeys)
        if (key.find("New") == std::string::npos && key.find("Shared") == std::string::npos && d.percent(8)) {
            c.deniedKeys.push_back(win::fromUtf8(key));
            break;
        }

    std::string serviceSet;
    for (const char* name : {"LumenSync", "LumenIndex"}) {
        if (!d.percent(30)) continue;
        ServiceSetup s;
        s.name = name;
        const int kind = d.below(10);
        if (kind == 0) s.present = false;
        if (kind == 1) s.state = win::svcstate::stopped;
        if (kind == 2) s.behaviour.refusesStop = true;
        if (kind == 3 || kind == 4) s.behaviour.stopPendingPolls = 1 + d.below(4);
        if (kind == 5) s.behaviour.startPendingPolls = 1 + d.below(4);
        // Past the stop wait: half a minute each, so rare.
        if (kind == 6 && d.percent(10)) s.behaviour.stopPendingPolls = 350;
        c.services.push_back(s);
        serviceSet += "<Service><Operation>" + std::string(d.percent(50) ? "stop" : "start") +
                      "</Operation><ServiceName>" + s.name + "</ServiceName></Service>\n";
    }

    std::string addRemove;
    if (d.percent(40)) {
        const std::vector<std::pair<std::string, std::string>> fields = {{"DisplayName", "Lumen TX4 (9.0.3)"},
                                                                         {"DisplayVersion", "9.0.3"},
                                                                         {"Comment", "Patched"},
                                                                         {"Publisher", "Orvex"},
                                                                         {"SupportURL", "https://x.example"},
                                                                         {"SupportPhoneNumber", "+1 555"}};
        for (const auto& [field, value] : fields)
            if (d.percent(50)) addRemove += "<" + field + "><Value>" + value + "</Value></" + field + ">";
        addRemove = "<AddRemoveInfo>" + addRemove + "</AddRemoveInfo>\n";
    }

    c.patch.manifest = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Manifest>\n" +
                       (serviceSet.empty() ? "" : "<ServiceSet>\n" + serviceSet + "</ServiceSet>\n") +
                       "<FileSet>\n" + fileSet + "</FileSet>\n" +
                       (directorySet.empty() ? "" : "<DirectorySet>\n" + directorySet + "</DirectorySet>\n") +
                       (registrySet.empty() ? "" : "<PDSSet>\n" + registrySet + "</PDSSet>\n") + addRemove +
                       "</Manifest>\n";
    c.entries = 2 * static_cast<int>(c.services.size()) + fileEntries + directories + registry +
                (addRemove.empty() ? 0 : 1);

    if (d.percent(10)) c.held.push_back(d.percent(70) ? existing() : c.files.begin()->first);

    for (int i = 0; i < kTrialsPerCase; ++i) {
        Trial t;
        t.mode = d.among(std::vector<std::string>{"silent", "silent", "update-manager", "wizard"});
        const int kind = d.below(100);
        const int at = 1 + d.below(c.entries);
        const std::string entry = std::to_string(at);
        if (kind >= 88)
            t.fault = "fault:" + entry;
        else if (kind >= 50)
            t.fault = "killafter:" + entry;
        else if (kind >= 30)
            t.fault = "kill:" + entry;
        else if (kind >= 6)
            t.fault = "fail:" + entry;
        // A recovery killed in its turn, at one of the undo entries the dead run left.
        if (kind >= 75 && kind < 88) t.recoveryKill = 1 + d.below(at + 1);
        t.cancel = t.mode == "wizard" && d.percent(30);
        c.trials.push_back(t);
    }
    return c;
}

class RollbackChecker : public ScenarioTest {
  protected:
    // The machine of the case before the patch.
    void prepare(const Case& c) {
        machine_ = std::make_unique<testing_support::TestMachine>();
        auto r = testing_support::runProgram(
            testing_support::binDir() / "tally",
            {"add", kProductCode, "--installdir", win::toUtf8(kInstallDir), "--version", "9.0", "--language",
             "en_US", "--product-code", kUninstallCode});
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const std::wstring dir = kInstallDir;
        for (const auto& [rel, bytes] : c.files) {
            machine_->writeFile(dir + L"\\" + win::fromUtf8(rel), bytes);
            // The product's installer installed its colour profiles too.
            if (rel.find(".icm") != std::string::npos)
                machine_->writeFile(
                    win::colorDirectory() + L"\\" + win::fromUtf8(rel.substr(rel.rfind('\\') + 1)), bytes);
        }
        for (const auto& [rel, a] : c.attributes) {
            if (a) {
                ASSERT_TRUE(win::setFileAttributes(dir + L"\\" + win::fromUtf8(rel), a));
            }
        }
        for (const auto& f : c.emptyFolders)
            ASSERT_TRUE(win::createDirectory(dir + L"\\" + win::fromUtf8(f)));
        fs::create_directories(machine_->host(L"C:\\QUD"));
        win::RegKey key;
        ASSERT_EQ(key.create(win::RegRoot::localMachine, kProductKey + L"\\Plugins\\Inner"), 0);
        ASSERT_EQ(key.setDword(L"Enabled", 1), 0);
        ASSERT_EQ(key.create(win::RegRoot::localMachine, kProductKey + L"\\Cache\\Thumbs"), 0);
        ASSERT_EQ(key.setString(L"Size", L"128"), 0);
        ASSERT_EQ(key.open(win::RegRoot::localMachine, kProductKey), 0);
        ASSERT_EQ(key.setString(L"Version", L"9.0"), 0);
        ASSERT_EQ(key.setDword(L"Level", 3), 0);
        ASSERT_EQ(key.setValue(L"Obsolete", win::regtype::binary, std::vector<std::uint8_t>{1, 2, 3}), 0);
        ASSERT_EQ(key.create(win::RegRoot::localMachine, kUninstallKey), 0);
        ASSERT_EQ(key.setString(L"DisplayName", L"Lumen TX4"), 0);
        ASSERT_EQ(key.setString(L"DisplayVersion", L"9.0"), 0);
        for (const auto& s : c.services) {
            if (!s.present) continue;
            win::ServiceRecord record;
            record.name = win::fromUtf8(s.name);
            record.state = s.state;
            record.behaviour = s.behaviour;
            ASSERT_TRUE(win::addService(record));
        }
        for (const auto& k : c.deniedKeys)
            ASSERT_EQ(win::setRegKeyDenied(win::RegRoot::localMachine, k, true), 0);
    }

    // Files with their bytes and attributes (product, colour folder), the registry, the services and
    // the number of history entries.
    std::string state(const Case& c) {
        std::ostringstream out;
        const auto files = [&](const std::wstring& root) {
            for (const std::string& rel : treeOf(machine_->host(root))) {
                if (rel.rfind("Common Files", 0) == 0) continue;
                const std::wstring windows = root + L"\\" + win::fromUtf8(rel);
                out << rel << " attributes " << (win::getFileAttributes(windows) & ~win::attr::archive);
                if (fs::is_regular_file(machine_->host(windows)))
                    out << " md5 " << md5(testing_support::readHostFile(machine_->host(windows)));
                out << "\n";
            }
        };
        files(L"C:\\Program Files");
        files(win::colorDirectory());
        dumpRegistryKey(L"SOFTWARE\\Orvex", out);
        dumpRegistryKey(kUninstallKey, out);
        for (const auto& s : c.services) {
            win::ServiceRecord record;
            win::DWORD state = win::getService(win::fromUtf8(s.name), record) ? record.state : 0;
            if (state == win::svcstate::startPending) state = win::svcstate::running;  // on its way
            out << "service " << s.name << " " << state << "\n";
        }
        mw::PatchHistoryFile history(win::fromUtf8(kProductCode));
        history.load();
        out << "history entries " << win::toUtf8(history.entryCount()) << "\n";
        return out.str();
    }


    // Runs with the case's files held open by this process (share modes hold between processes).
    PatcherRun runHolding(const Case& c, const std::function<PatcherRun()>& body) {
        std::vector<std::unique_ptr<win::File>> holders;
        for (const auto& rel : c.held) {
            holders.push_back(std::make_unique<win::File>());
            holders.back()->open(std::wstring(kInstallDir) + L"\\" + win::fromUtf8(rel), win::access::read,
                                 win::share::read, win::Disposition::openExisting);
        }
        return body();
    }

    PatcherRun runIn(const std::string& mode, const fs::path& program, std::map<std::string, std::string> env,
                     bool cancel = false) {
        if (mode == "wizard") {
            TempDir dir;
            testing_support::writeHostFile(dir.path() / "script",
                                           cancel ? "click 1\nawait progress 205 >= 1\nanswer yes\nclick 2\n"
                                                    "await text 1 Finish\nclick 1\n"
                                                  : "click 1\nawait text 1 Finish\nclick 1\n");
            env["MENDWELL_DIALOG_SCRIPT"] = (dir.path() / "script").string();
            env["LSAN_OPTIONS"] =
                "suppressions=" + (testing_support::sourceDir() / "tests/lsan_qt.supp").string();
            env["QT_QPA_PLATFORM"] = "offscreen";
            // A wizard that never reaches its last page is a finding, not a hung test (124).
            auto r =
                testing_support::runProgram("/usr/bin/timeout", {"-k", "10", "180", program.string()}, env);
            return {r.exitCode, r.output};
        }
        if (mode == "update-manager") {
            env["QT_QPA_PLATFORM"] = "offscreen";
            auto r = testing_support::runProgram(testing_support::binDir() / "qud-run",
                                                 {"--report", "C:\\QUD\\result.xml", "--install-path",
                                                  win::toUtf8(kInstallDir), "--", program.string()},
                                                 env);
            return {r.exitCode, r.output};
        }
        return run({"-SILENT"}, program, env);
    }

    bool journalLeft() const {
        for (const fs::path& folder : workFolders())
            if (fs::exists(folder / "RollbackManifest.xml.journal")) return true;
        return false;
    }

    // A patcher of the case, carrying the patch tool only when an entry needs it (smaller, quicker runs).
    static std::string assemble(const Case& c, const fs::path& folder) {
        const fs::path bin = folder / "bin";
        fs::create_directories(bin);
        std::vector<std::string> parts = {"Mendwell", "orvex_tally.so", "TVRLocalizedStrings.zip",
                                          "Verdicta.so"};
        if (c.binaryPatches) parts.insert(parts.end(), {"patch", "quadw32.dll"});
        for (const auto& name : parts) fs::create_symlink(testing_support::binDir() / name, bin / name);
        fs::create_directories(folder / "patch" / "payload");
        testing_support::writeHostFile(folder / "patch" / "config.xml", c.patch.config);
        testing_support::writeHostFile(folder / "patch" / "manifest.xml", c.patch.manifest);
        for (const auto& [name, bytes] : c.patch.payload)
            testing_support::writeHostFile(folder / "patch" / "payload" / name, bytes);
        auto made = testing_support::runProgram(testing_support::binDir() / "mendwell-build",
                                                {"assemble", (folder / "patch").string(), "-o",
                                                 (folder / "Mendwell").string(), "--bin", bin.string()});
        return made.exitCode == 0 ? "" : "mendwell-build failed: " + made.output;
    }

    // Empty when the trial keeps the promise, else what went wrong; `logs` gathers the patcher's logs.
    std::string tryOne(const Case& c, const Trial& t, const fs::path& program, const std::string& old,
                       const std::string& patched, int cleanExit, std::string& logs) {
        prepare(c);
        if (HasFatalFailure()) return "the machine could not be prepared";
        if (state(c) != old) return "the machine is not drawn the same twice";
        std::map<std::string, std::string> env;
        if (!t.fault.empty()) env["MENDWELL_FAULT"] = t.fault;
        const PatcherRun faulted = runHolding(c, [&] { return runIn(t.mode, program, env, t.cancel); });
        const std::string afterRun = state(c);
        logs +=
            "log of the run (exit " + std::to_string(faulted.exitCode) + "):\n" + logText() + faulted.output;
        if (faulted.exitCode == 0 && afterRun != patched)
            return "the run reported success but the product is not patched\n" +
                   differences(patched, afterRun);
        if (t.mode == "wizard" && faulted.exitCode == 1) return "sanitizer report in the wizard";
        if (faulted.exitCode == 124) return "the wizard never reached its last page";
        if (t.recoveryKill) {
            const PatcherRun killed = runIn(
                "silent", program, {{"MENDWELL_FAULT", "killrollback:" + std::to_string(t.recoveryKill)}});
            logs += "\nlog after the killed recovery (exit " + std::to_string(killed.exitCode) + "):\n" +
                    logText();
        }
        // The next start recovers a dead run and changes nothing of its own.
        const PatcherRun next = run({"-SILENT", "-CHECK"}, program);
        const std::string recovered = state(c);
        logs += "\nlog after the next start (exit " + std::to_string(next.exitCode) + "):\n" + logText();
        const bool isOld = recovered == old, isNew = cleanExit == 0 && recovered == patched;
        if (!isOld && !isNew)
            return "after the run (exit " + std::to_string(faulted.exitCode) + ") and the next start (exit " +
                   std::to_string(next.exitCode) + ") the product is neither old nor new\nagainst old:\n" +
                   differences(old, recovered) + "against new:\n" + differences(patched, recovered);
        if (journalLeft()) return "a journal is left after the next start";

        // The same patch then runs as on the untouched machine, or is refused as applied.
        const PatcherRun again = runHolding(c, [&] { return runIn("silent", program, {}); });
        const std::string last = state(c);
        logs += "\nlog of the run again (exit " + std::to_string(again.exitCode) + "):\n" + logText();
        if (isNew && isOld) return "";  // the patch changes nothing that is looked at
        if (isNew && (again.exitCode != 6 || last != patched))
            return "the product is patched, but the patch then ends " + std::to_string(again.exitCode) +
                   "\n" + differences(patched, last);
        if (isOld && (again.exitCode != cleanExit || last != patched))
            return "rolled back, but the patch then ends " + std::to_string(again.exitCode) +
                   " (untouched machine: " + std::to_string(cleanExit) + ")\n" + differences(patched, last);
        return "";
    }

    // Lines of `expected` missing from `actual` ("-") and lines of `actual` not expected ("+").
    static std::string differences(const std::string& expected, const std::string& actual) {
        const auto lines = [](const std::string& text) {
            std::multiset<std::string> out;
            std::istringstream in(text);
            for (std::string line; std::getline(in, line);) out.insert(line);
            return out;
        };
        const auto a = lines(expected), b = lines(actual);
        std::string out;
        for (const auto& line : a)
            if (a.count(line) > b.count(line)) out += "  - " + line + "\n";
        for (const auto& line : b)
            if (b.count(line) > a.count(line)) out += "  + " + line + "\n";
        return out;
    }

    // Checks each seed's trials; a failing one is reported with its case and the command that runs it
    // again, its logs in build/<preset>/artefacts/checker/seed-<N>.txt.
    void checkSeeds(const std::vector<std::uint64_t>& seeds, int& cases) {
        for (std::uint64_t seed : seeds) {
            const auto began = std::chrono::steady_clock::now();
            const Case c = drawCase(seed);
            TempDir folder;
            if (std::string failed = assemble(c, folder.path()); !failed.empty()) {
                ADD_FAILURE() << "seed " << seed << ": " << failed;
                continue;
            }
            const fs::path program = folder.path() / "Mendwell";
            // The same patch without a fault on an untouched machine: the "new" state (or the old one again
            // when it cannot apply there).
            prepare(c);
            if (HasFatalFailure()) return;
            const std::string old = state(c);
            const PatcherRun clean = runHolding(c, [&] { return runIn("silent", program, {}); });
            const std::string patched = state(c);
            std::string finding;
            if (clean.exitCode != 0 && patched != old)
                finding = "the run without a fault failed (" + std::to_string(clean.exitCode) +
                          ") and left neither state\n" + differences(old, patched);
            else if (clean.exitCode != 0 && journalLeft())
                finding = "the run without a fault left a journal";
            std::string logs = "log of the run without a fault:\n" + logText();
            const Trial* failing = nullptr;
            for (const Trial& t : c.trials) {
                if (!finding.empty()) break;
                ++cases;
                logs = "";
                finding =
                    tryOne(c, t, program, old, clean.exitCode == 0 ? patched : old, clean.exitCode, logs);
                if (!finding.empty()) failing = &t;
            }
            std::cout << "seed " << seed << ": "
                      << std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                                          began)
                             .count()
                      << " s" << (finding.empty() ? "" : ", FINDING") << std::endl;
            if (finding.empty()) continue;
            const fs::path artefacts = testing_support::buildDir() / "artefacts" / "checker";
            fs::create_directories(artefacts);
            const fs::path report = artefacts / ("seed-" + std::to_string(seed) + ".txt");
            const std::string text = "FINDING " + c.describe() + "\n" + (failing ? failing->describe() : "") +
                                     "\n" + finding + "\nrun it again: ./build.sh chaos --seed " +
                                     std::to_string(seed) + "\n";
            testing_support::writeHostFile(report, text + "\n" + logs);
            ADD_FAILURE() << text << "logs: " << report.string() << "\n";
        }
    }
};

// A seed and what it once found ("" when it was drawn for coverage only).
struct SeedRow {
    std::uint64_t seed;
    const char* found;
};

// Every test run: one seed per fault it found (each failed before the mend) and one drawn for coverage.
const std::vector<SeedRow> kFixedSeeds = {
    {1, ""},
    {6,
     "a hidden target passed the pre-flight and its copy then failed (5); the rollback of a rename "
     "dropped the read-only bit"},
    {1008, "the undo of a remove and of a rename restored the manifest's letter case (README.TXT) (wizard)"},
    {2023,
     "the rollback reinstalled an unchanged colour profile with the product file's attributes "
     "(killed recovery)"},
    {2026, "the undo of a remove recreated the pruned folders and the file in the manifest's letter case"},
    {2029, "a blind overwrite's move to its RenamePath was never undone (killed in update-manager mode)"},
    {3000,
     "a service that refuses to stop failed the run at its first entry and the rollback left the journal"},
    {3001, "a fault in the wizard deleted the backups and the next start's recovery lost the removed files"},
    {5005, "an overwrite of a held, hidden file failed mid-run and its rollback left the journal"},
    {1010, "a touch cleared the read-only bit for good"},
    {2030, "the undo of a patch restored the manifest's letter case (DEFAULT.PRESET)"},
    {3002, "a touch cleared the read-only bit for good (fail at the entry after it)"},
    {4000, "the undo of a remove restored the manifest's letter case, in the colour folder too (LUMEN.ICM)"},
    {5000, "a touch cleared the read-only bit for good (killed after a later entry)"},
    {7030,
     "the undo restored the manifest's letter case (LUMEN.DLL) and a read-only bit was lost, after a "
     "killed recovery"},
    {1796837197960978885,
     "a read-only target of a blind overwrite that moved it on came back without its read-only bit after "
     "a kill right after that entry: the undo of the move cleared the bit of the backup they share"},
    {7033,
     "the colour folder kept the new profile after a recovery killed and done again; a killed one left "
     "Lumen.icm._orxOLD there (2015)"},
    {2015,
     "the service a killed recovery started again was still start pending, and the next run's stop of "
     "it failed (1061)"},
    {1796837197960978856,
     "as 2015 without a killed recovery (killafter:13): the next run's stop of the service still "
     "starting failed (1061)"},
};
// Seeds whose fault is not mended yet: run by ./build.sh chaos, kept out of the test run.
const std::vector<SeedRow> kOpenFindings = {
    {1796840639287924721,
     "a read-only file this process holds passes the pre-flight, the overwrite's copy then fails (32); the "
     "killed run's recovery finishes the patch once the file is free, where the checker expects the old "
     "product"},
};
// More seeds that found a fault since mended, or were drawn for coverage: run by ./build.sh chaos.
const std::vector<SeedRow> kMoreSeeds = {
    {2, ""},
    {3, ""},
    {4, ""},
    {5, ""},
    {2027, "as 2023, after an access violation in update-manager mode"},
    {2032,
     "a blind overwrite's move to its RenamePath was never undone, and the undo of a remove restored "
     "the manifest's letter case"},
    {4002, "an undo restored the manifest's letter case (ONE.PLG)"},
    {5001, "an overwrite of a hidden file failed mid-run and its rollback left the journal"},
    {5006,
     "a read-only and system target lost its read-only bit when its copy failed, and the colour "
     "folder's profile took the product file's attributes"},
};

void PrintTo(const SeedRow& row, std::ostream* out) {
    *out << row.seed;
}

class RollbackCheckerSeed : public RollbackChecker, public testing::WithParamInterface<SeedRow> {};

TEST_P(RollbackCheckerSeed, KeepsThePromise) {
    int cases = 0;
    checkSeeds({GetParam().seed}, cases);
}

INSTANTIATE_TEST_SUITE_P(Fixed, RollbackCheckerSeed, testing::ValuesIn(kFixedSeeds),
                         [](const testing::TestParamInfo<SeedRow>& row) {
                             return "seed_" + std::to_string(row.param.seed);
                         });

TEST_F(RollbackChecker, DISABLED_OpenFindings) {
    int cases = 0;
    for (const SeedRow& row : kOpenFindings) checkSeeds({row.seed}, cases);
}

TEST_F(RollbackChecker, DISABLED_MoreSeeds) {
    int cases = 0;
    for (const SeedRow& row : kMoreSeeds) checkSeeds({row.seed}, cases);
}

// New seeds for MENDWELL_CHAOS_SECONDS (default 60) from MENDWELL_CHAOS_SEED (default: the clock), or
// exactly the seeds of MENDWELL_CHAOS_SEEDS ("7,12").
TEST_F(RollbackChecker, DISABLED_Chaos) {
    int cases = 0;
    if (const char* list = std::getenv("MENDWELL_CHAOS_SEEDS")) {
        std::vector<std::uint64_t> seeds;
        std::stringstream in(list);
        for (std::string s; std::getline(in, s, ',');) seeds.push_back(std::stoull(s));
        checkSeeds(seeds, cases);
        return;
    }
    const char* secondsText = std::getenv("MENDWELL_CHAOS_SECONDS");
    const auto seconds = std::chrono::seconds(secondsText ? std::atoi(secondsText) : 60);
    const char* first = std::getenv("MENDWELL_CHAOS_SEED");
    std::uint64_t seed =
        first ? std::stoull(first)
              : static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < seconds) {
        checkSeeds({seed++}, cases);
        std::cout << "chaos: " << cases << " cases, "
                  << std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                                      start)
                         .count()
                  << " s, next seed " << seed << std::endl;
    }
    const double minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 60.0;
    std::cout << "chaos: " << cases << " cases in " << minutes << " min (" << cases / minutes
              << " per minute)\n";
}

}  // namespace
}  // namespace scenarios
