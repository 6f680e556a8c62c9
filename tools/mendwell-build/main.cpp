// mendwell-build: the patch author's tool. `assemble PATCHDIR -o OUT` makes a patcher program;
// `inspect FILE...` shows what the patcher sees of files.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/process/process.h"
#include "platform/text/text.h"
#include "tools/mendwell-build/assembler.h"
#include "tools/mendwell-build/file_report.h"
#include "tools/mendwell-build/signing.h"
#include "tools/mendwell-build/tree_diff.h"
#include "tools/mendwell-build/verify.h"

namespace {

const char* const kHelp = R"(Usage: mendwell-build assemble PATCHDIR -o OUT [--bin DIR] [--unchecked]
                           [--sign KEY.pem [--signer NAME]]
       mendwell-build diff --old DIR --new DIR --config config.xml -o PATCHDIR
                           [--install-token TOKEN] [--extras FILE] [--rules FILE] [--bin DIR]
                           [--jobs N]
       mendwell-build inspect FILE...
       mendwell-build keygen NAME
       mendwell-build verify PATCHER --old DIR --new DIR [--install-dir WINPATH] [--keep] [--bin DIR]
       mendwell-build --help

diff: compares an old and a new product tree and writes a patch folder for assemble. A file only in the
new tree is added, one only in the old tree removed, one that moved renamed; a changed file is patched
with a difference made by qdiff when that costs fewer bytes in the payload archive than the file
itself, else overwritten; differences are made N at a time (default: one per core), with their count
shown when the output is a terminal. Folders only in the new tree are added. Services, registry values
and the Add/Remove entry come from the extras file (default: patch-extras.xml beside config.xml); a rule
file names files to blind-overwrite ("blindoverwrite GLOB" per line). Paths start with the install token
("[INSTALLDIR]").

verify: runs PATCHER -SILENT on a fresh machine whose product holds the old tree and checks that the
install folder then equals the new tree byte for byte; then, on another fresh machine, makes the run fail
on its last entry and checks that the rollback left the old tree exactly as it was. Exit 0 when both hold.

Assembles a patcher: the Mendwell program with everything the patch needs carried in its resources.

A patch folder holds:
  config.xml       the patch configuration: the product (Name, ProductData/OrvexCode/GUID), the versions it
                   moves between (OldVersion, NewVersion) and the checks to make before patching
                                                                        -> resource CONFIG/100
  manifest.xml     the operations: services, files, directories, registry, Add/Remove entry
                                                                        -> resource MANIFEST/100
  payload/         the new files and binary difference files, each named by its manifest object name;
                   zipped with deflate, entries named by their path below payload/ with '/'
                                                                        -> resource PATCHFILES/100
  TVRLocalization/ optional: one folder per locale holding TVR.vdct     -> resource TVRLOCALIZEDSTRINGS/100

From the bin folder (beside mendwell-build, or --bin DIR), each embedded when it has been built:
  Mendwell                       the patcher program itself (required)
  orvex_tally.so                 the installed-product database library -> TALLY/100
  patch, quadw32.dll             the binary patch tool and its engine   -> QUADRELFILES/100 and 200
  Verdicta.so                    the result reporting library           -> QUDLIB/100
  TVRLocalizedStrings.zip        dictionaries, when the patch folder has none

A missing input is reported by name and nothing is written. So is a config.xml or manifest.xml the
patcher would refuse or pass over in part (a misspelt element, set or operation, a required element
missing): each finding names its line. --unchecked carries them as they are (for tests of the patcher's
own refusals). See docs/authoring.md.

--sign KEY.pem signs the patcher with an Ed25519 private key: resource SIGNATURE/100 names the signer
(--signer NAME, else the key file's name) and the key, and holds the SHA-256 of the program and of every
other resource. The patcher checks it before it extracts anything and refuses to run when anything differs.
Ed25519 is deterministic: the same inputs and key give the same patcher, byte for byte.

keygen NAME writes NAME.pem (the private key, for --sign; keep it secret) and NAME.pub.pem, and prints the
key's fingerprint: the text a machine's policy names to accept this signer.

inspect shows what the patcher sees of each file, to check it before writing its manifest entry: the
MD5 text (BeforePatch / AfterPatch), and the file versioner that recognises it with its kind and version;
when none does, the version in its version resource and its FileDescription; for a patcher, its signer
and whether its signature holds (exit status 1 when it does not). A FILE written "C:\..." is
read on the current machine (MENDWELL_MACHINE); any other is a host file, read under its own path. Exit
status 1 when a file cannot be read.
)";

using Setter = std::function<void(const std::string&)>;

// The options of a command after its name: "--help" prints the help, a flag sets itself, any other
// option takes the next argument as its value; with `positional`, an argument not starting with "--"
// goes there. -1 to go on, else the exit status.
int parseOptions(const std::vector<std::string>& args, const std::map<std::string, Setter>& valued,
                 const std::map<std::string, bool*>& flags, std::vector<std::string>* positional) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help") {
            std::cout << kHelp;
            return 0;
        }
        if (const auto flag = flags.find(a); flag != flags.end()) {
            *flag->second = true;
            continue;
        }
        if (positional && a.rfind("--", 0) != 0) {
            positional->push_back(a);
            continue;
        }
        if (i + 1 >= args.size()) {
            std::cerr << "mendwell-build: " << a << " needs a value (try --help)\n";
            return 2;
        }
        const std::string& value = args[++i];
        const auto setter = valued.find(a);
        if (setter == valued.end()) {
            std::cerr << "mendwell-build: unknown option '" << a << "' (try --help)\n";
            return 2;
        }
        setter->second(value);
    }
    return -1;
}

int runDiff(const std::vector<std::string>& args) {
    mwbuild::DiffRequest request;
    bool badJobs = false;
    request.binDir = win::moduleHostPath().parent_path();
    const int parsed = parseOptions(
        args,
        {{"--old", [&](const std::string& v) { request.oldTree = v; }},
         {"--new", [&](const std::string& v) { request.newTree = v; }},
         {"--config", [&](const std::string& v) { request.config = v; }},
         {"-o", [&](const std::string& v) { request.output = v; }},
         {"--extras", [&](const std::string& v) { request.extras = v; }},
         {"--rules", [&](const std::string& v) { request.rules = v; }},
         {"--bin", [&](const std::string& v) { request.binDir = v; }},
         {"--jobs",
          [&](const std::string& v) {
              request.jobs = v.size() > 0 && v.size() < 4 && v.find_first_not_of("0123456789") == std::string::npos
                                 ? static_cast<unsigned>(std::stoul(v))
                                 : 0;
              badJobs = request.jobs == 0;
          }},
         {"--install-token",
          [&](const std::string& v) { request.installToken = std::wstring(v.begin(), v.end()); }}},
        {}, nullptr);
    if (parsed >= 0) return parsed;
    if (request.oldTree.empty() || request.newTree.empty() || request.config.empty() ||
        request.output.empty()) {
        std::cerr << "mendwell-build: diff needs --old, --new, --config and -o (try --help)\n";
        return 2;
    }
    if (badJobs) {
        std::cerr << "mendwell-build: --jobs needs a number from 1 to 999\n";
        return 2;
    }
    request.progress = isatty(STDOUT_FILENO) != 0;
    mwbuild::DiffSummary summary;
    return mwbuild::diffTrees(request, std::cout, std::cerr, summary) ? 0 : 1;
}

int runVerify(const std::vector<std::string>& args) {
    mwbuild::VerifyRequest request;
    request.binDir = win::moduleHostPath().parent_path();
    std::vector<std::string> positional;
    const int parsed = parseOptions(
        args,
        {{"--old", [&](const std::string& v) { request.oldTree = v; }},
         {"--new", [&](const std::string& v) { request.newTree = v; }},
         {"--bin", [&](const std::string& v) { request.binDir = v; }},
         {"--install-dir", [&](const std::string& v) { request.installDir = win::fromUtf8(v); }}},
        {{"--keep", &request.keep}}, &positional);
    if (parsed >= 0) return parsed;
    if (positional.size() != 1 || request.oldTree.empty() || request.newTree.empty()) {
        std::cerr << "mendwell-build: verify needs PATCHER, --old and --new (try --help)\n";
        return 2;
    }
    request.patcher = positional[0];
    return mwbuild::verifyPatcher(request, std::cout, std::cerr) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    win::initProcess(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << kHelp;
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << kHelp;
        return 0;
    }
    if (args[0] == "diff") return runDiff(args);
    if (args[0] == "inspect") {
        if (args.size() < 2) {
            std::cerr << "mendwell-build: inspect needs at least one FILE (try --help)\n";
            return 2;
        }
        return mwbuild::inspectFiles({args.begin() + 1, args.end()}, std::cout, std::cerr) ? 0 : 1;
    }
    if (args[0] == "verify") return runVerify(args);
    if (args[0] == "keygen") {
        if (args.size() != 2 || args[1].rfind("--", 0) == 0) {
            std::cerr << "mendwell-build: keygen needs one NAME (try --help)\n";
            return 2;
        }
        return mwbuild::generateKey(args[1], std::cout, std::cerr) ? 0 : 1;
    }
    if (args[0] != "assemble") {
        std::cerr << "mendwell-build: unknown command '" << args[0] << "' (try --help)\n";
        return 2;
    }
    mwbuild::AssembleRequest request;
    request.binDir = win::moduleHostPath().parent_path();
    std::vector<std::string> positional;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--bin") && i + 1 < args.size()) {
            (args[i] == "-o" ? request.output : request.binDir) = args[i + 1];
            ++i;
        } else if (args[i] == "--sign" && i + 1 < args.size()) {
            request.signKey = args[++i];
        } else if (args[i] == "--signer" && i + 1 < args.size()) {
            request.signer = args[++i];
        } else if (args[i] == "--help") {
            std::cout << kHelp;
            return 0;
        } else if (args[i] == "--unchecked") {
            request.unchecked = true;
        } else if (!args[i].empty() && args[i][0] == '-') {
            std::cerr << "mendwell-build: unknown option '" << args[i] << "' (try --help)\n";
            return 2;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 1 || request.output.empty()) {
        std::cerr << "mendwell-build: assemble needs one PATCHDIR and -o OUT (try --help)\n";
        return 2;
    }
    request.patchDir = positional[0];
    mwbuild::Assembler assembler(request);
    return assembler.run(std::cout, std::cerr) ? 0 : 1;
}
