// tally: registers, changes, lists and removes products in the machine's installed-product database.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "outside/tally/store.h"
#include "outside/tally/tally_api.h"
#include "platform/text/text.h"

namespace {

constexpr const char* kUsage =
    "Usage: tally <command> [arguments]\n"
    "\n"
    "Keeps the installed-product database of the machine named by MENDWELL_MACHINE\n"
    "(C:\\ProgramData\\Orvex\\Tally\\tally.db on that machine).\n"
    "\n"
    "Commands:\n"
    "  add CODE [options]     register product CODE, or change the fields given\n"
    "      --installdir DIR       the INSTALLDIR value (a Windows path)\n"
    "      --language LANG        the installLanguage value (e.g. en_US)\n"
    "      --product-code GUID    the ProductCode value\n"
    "      --version VERSION      the installed version (e.g. 9.0.1)\n"
    "      --collection ID        the collection the product belongs to\n"
    "      --installed SECONDS    the collection's tsInstalled\n"
    "      --modified SECONDS     the collection's tsModified\n"
    "  set CODE NAME VALUE    set one value: version, collection, tsInstalled, tsModified,\n"
    "                         or any property (INSTALLDIR, installLanguage, ProductCode, ...)\n"
    "  list                   show every registered product\n"
    "  remove CODE            forget product CODE\n"
    "  --help                 show this text\n"
    "\n"
    "Exit status: 0 done, 1 the database refused (the message says why), 2 wrong arguments.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "tally: %s\nRun \"tally --help\" for usage.\n", message.c_str());
    return 2;
}

int failed(int rc, const std::string& error) {
    std::fprintf(stderr, "tally: %s\n", error.empty() ? "the database refused the change" : error.c_str());
    return rc == TALLY_OK ? 0 : 1;
}

bool parseSeconds(const std::string& text, std::int64_t& out) {
    if (text.empty() || text.size() > 18) return false;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

int add(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[1].empty() || args[1].rfind("--", 0) == 0)
        return usageError("add needs a product code");
    mw::tally::ProductFields f;
    f.payloadId = args[1];
    for (std::size_t i = 2; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) return usageError(option + " needs a value");
        const std::string& value = args[i + 1];
        if (option == "--installdir") {
            f.installDir = value;
        } else if (option == "--language") {
            f.installLanguage = value;
        } else if (option == "--product-code") {
            f.productCode = value;
        } else if (option == "--version") {
            f.version = value;
        } else if (option == "--collection") {
            f.collectionId = value;
        } else if (option == "--installed" || option == "--modified") {
            std::int64_t n = 0;
            if (!parseSeconds(value, n))
                return usageError(option + " needs a number of seconds, not \"" + value + "\"");
            (option == "--installed" ? f.tsInstalled : f.tsModified) = n;
        } else {
            return usageError("unknown option \"" + option + "\" for add");
        }
    }
    std::string error;
    int rc = mw::tally::addProduct(f, error);
    if (rc != TALLY_OK) return failed(rc, error);
    std::printf("registered %s\n", f.payloadId.c_str());
    return 0;
}

int set(const std::vector<std::string>& args) {
    if (args.size() != 4) return usageError("set needs CODE NAME VALUE");
    std::string error;
    int rc = mw::tally::setValue(args[1], args[2], args[3], error);
    if (rc != TALLY_OK) return failed(rc, error);
    std::printf("%s %s = %s\n", args[1].c_str(), args[2].c_str(), args[3].c_str());
    return 0;
}

int list(const std::vector<std::string>& args) {
    if (args.size() != 1) return usageError("list takes no arguments");
    std::vector<mw::tally::Product> products;
    std::string error;
    int rc = mw::tally::listProducts(products, error);
    if (rc != TALLY_OK) return failed(rc, error);
    for (const auto& p : products) {
        std::printf("%s\n  version: %s\n", p.payloadId.c_str(), p.version.c_str());
        for (const auto& [name, value] : p.properties) std::printf("  %s: %s\n", name.c_str(), value.c_str());
        if (!p.collectionId.empty())
            std::printf("  collection: %s (tsInstalled %lld, tsModified %lld)\n", p.collectionId.c_str(),
                        static_cast<long long>(p.tsInstalled), static_cast<long long>(p.tsModified));
    }
    if (products.empty()) std::printf("no products registered\n");
    return 0;
}

int remove(const std::vector<std::string>& args) {
    if (args.size() != 2) return usageError("remove needs a product code");
    std::string error;
    int rc = mw::tally::removeProduct(args[1], error);
    if (rc != TALLY_OK) return failed(rc, error);
    std::printf("removed %s\n", args[1].c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("no command given");
    const std::string& command = args[0];
    const auto asksForHelp = [](const std::string& a) { return a == "--help" || a == "-h" || a == "help"; };
    // "tally add --help" and the like show the usage too.
    if (asksForHelp(command) || (args.size() > 1 && asksForHelp(args[1]))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "add") return add(args);
    if (command == "set") return set(args);
    if (command == "list") return list(args);
    if (command == "remove") return remove(args);
    return usageError("unknown command \"" + command + "\"");
}
