#include "tools/mendwell-build/input_check.h"

#include <expat.h>

#include <map>
#include <memory>
#include <set>

namespace mwbuild {

namespace {

struct Element {
    std::string name;
    long line = 0;
    std::string text;
    std::vector<std::unique_ptr<Element>> children;

    const Element* child(const std::string& n) const {
        for (const auto& c : children)
            if (c->name == n) return c.get();
        return nullptr;
    }
};

// The document with the line of every element, or the parser's complaint.
struct Document {
    std::unique_ptr<Element> root;
    std::string error;
};

Document read(const std::string& bytes) {
    struct State {
        XML_Parser parser;
        Document doc;
        std::vector<Element*> open;
    } st;
    st.parser = XML_ParserCreate(nullptr);
    XML_SetUserData(st.parser, &st);
    XML_SetElementHandler(
        st.parser,
        [](void* d, const XML_Char* name, const XML_Char**) {
            auto& s = *static_cast<State*>(d);
            auto e = std::make_unique<Element>();
            e->name = name;
            e->line = static_cast<long>(XML_GetCurrentLineNumber(s.parser));
            Element* raw = e.get();
            if (s.open.empty()) {
                s.doc.root = std::move(e);
            } else {
                s.open.back()->children.push_back(std::move(e));
            }
            s.open.push_back(raw);
        },
        [](void* d, const XML_Char*) { static_cast<State*>(d)->open.pop_back(); });
    XML_SetCharacterDataHandler(st.parser, [](void* d, const XML_Char* text, int len) {
        auto& s = *static_cast<State*>(d);
        if (!s.open.empty()) s.open.back()->text.append(text, static_cast<std::size_t>(len));
    });
    if (XML_Parse(st.parser, bytes.data(), static_cast<int>(bytes.size()), 1) != XML_STATUS_OK) {
        st.doc.root.reset();
        st.doc.error = "line " + std::to_string(XML_GetCurrentLineNumber(st.parser)) + ": " +
                       XML_ErrorString(XML_GetErrorCode(st.parser));
    }
    XML_ParserFree(st.parser);
    return std::move(st.doc);
}

class Findings {
  public:
    explicit Findings(std::string file) : file_(std::move(file)) {}
    void add(long line, const std::string& what) {
        list_.push_back(file_ + " line " + std::to_string(line) + ": " + what);
    }
    std::vector<std::string> take() { return std::move(list_); }

  private:
    std::string file_;
    std::vector<std::string> list_;
};

// The elements the patcher reads below each one ("" children: a value). Anything else it passes over.
using Schema = std::map<std::string, std::set<std::string>>;

void walk(const Element& e, const std::string& path, const Schema& schema, Findings& out) {
    const auto known = schema.find(path);
    for (const auto& c : e.children) {
        const std::string childPath = path + "/" + c->name;
        if (known == schema.end() || known->second.count(c->name) == 0) {
            out.add(c->line, "<" + c->name + "> in <" + e.name + "> is not read by the patcher");
            continue;
        }
        walk(*c, childPath, schema, out);
    }
}

const Schema& configSchema() {
    static const Schema s = {
        {"PatcherConfig",
         {"Name", "PatchExecutableName", "Version", "PatcherID", "BuildNumber", "ComboPatch", "Family",
          "ProductData", "PrePatchValidation"}},
        {"PatcherConfig/ProductData",
         {"QUD", "PDS", "OrvexCode", "AliasList", "PathList", "OldVersion", "NewVersion"}},
        {"PatcherConfig/ProductData/QUD", {"AppID", "Version"}},
        {"PatcherConfig/ProductData/PDS", {"Win"}},
        {"PatcherConfig/ProductData/PDS/Win", {"Registry"}},
        {"PatcherConfig/ProductData/PDS/Win/Registry", {"HIVE", "Path", "Key"}},
        {"PatcherConfig/ProductData/OrvexCode", {"GUID"}},
        {"PatcherConfig/ProductData/AliasList", {"Alias"}},
        {"PatcherConfig/ProductData/PathList", {"Path"}},
        {"PatcherConfig/PrePatchValidation", {"AppRunningList", "AppValidityCheck", "SpaceRequirement"}},
        {"PatcherConfig/PrePatchValidation/AppRunningList", {"AppRunning"}},
        {"PatcherConfig/PrePatchValidation/SpaceRequirement", {"Target", "System"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck",
         {"KeyFilePathList", "MD5Check", "OrvexCode", "PDS"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck/KeyFilePathList", {"KeyFilePath"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck/MD5Check", {"Path", "MD5Value"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck/PDS", {"Win"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck/PDS/Win", {"Registry"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck/PDS/Win/Registry", {"HIVE", "Path", "Key"}},
    };
    return s;
}

// Elements that need children to be read at all: the patcher refuses the whole configuration.
void requireChildren(const Element& e, const std::string& path, Findings& out) {
    static const std::map<std::string, std::vector<std::string>> kNeeds = {
        {"PatcherConfig", {"Name", "PatcherID", "BuildNumber"}},
        {"PatcherConfig/ProductData/QUD", {"AppID"}},
        {"PatcherConfig/ProductData/PDS/Win/Registry", {"HIVE", "Path", "Key"}},
        {"PatcherConfig/ProductData/OrvexCode", {"GUID"}},
        {"PatcherConfig/ProductData/AliasList", {"Alias"}},
        {"PatcherConfig/ProductData/PathList", {"Path"}},
        {"PatcherConfig/PrePatchValidation/AppRunningList", {"AppRunning"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck/KeyFilePathList", {"KeyFilePath"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck/MD5Check", {"Path", "MD5Value"}},
        {"PatcherConfig/PrePatchValidation/AppValidityCheck/PDS/Win/Registry", {"HIVE", "Path", "Key"}},
    };
    if (const auto needs = kNeeds.find(path); needs != kNeeds.end())
        for (const std::string& n : needs->second)
            if (!e.child(n))
                out.add(e.line, "<" + e.name + "> has no <" + n + ">: the patcher refuses config.xml");
    for (const auto& c : e.children) requireChildren(*c, path + "/" + c->name, out);
}

}  // namespace

std::vector<std::string> checkConfig(const std::string& bytes) {
    Findings out("config.xml");
    const Document doc = read(bytes);
    if (!doc.root) {
        out.add(0, "not well-formed XML (" + doc.error + "): the patcher reads no configuration");
        return out.take();
    }
    const Element& root = *doc.root;
    if (root.name != "PatcherConfig") {
        out.add(root.line,
                "the root is <" + root.name + ">, not <PatcherConfig>: the patcher reads no configuration");
        return out.take();
    }
    requireChildren(root, "PatcherConfig", out);
    walk(root, "PatcherConfig", configSchema(), out);
    const Element* data = root.child("ProductData");
    if (!data || !data->child("OrvexCode"))
        out.add(root.line, "no <ProductData><OrvexCode><GUID>: the patcher can never locate the product");
    if (const Element* combo = root.child("ComboPatch");
        combo && combo->text != "true" && combo->text != "false")
        out.add(combo->line,
                "<ComboPatch> is \"" + combo->text + "\": only \"true\" turns combo patching on");
    return out.take();
}

std::vector<std::string> checkManifest(const std::string& bytes) {
    Findings out("manifest.xml");
    const Document doc = read(bytes);
    if (!doc.root) {
        out.add(0, "not well-formed XML (" + doc.error + "): the patcher refuses the manifest");
        return out.take();
    }
    const Element& root = *doc.root;
    if (root.name != "Manifest") {
        out.add(root.line,
                "the root is <" + root.name + ">, not <Manifest>: the patcher refuses the manifest");
        return out.take();
    }
    // Each set with its entry element and the operations the patcher knows for it.
    static const std::map<std::string, std::pair<std::string, std::set<std::string>>> kSets = {
        {"FileSet", {"File", {"add", "rename", "remove", "blindoverwrite", "patch", "overwrite", "touch"}}},
        {"DirectorySet", {"Directory", {"add", "remove"}}},
        {"PDSSet", {"PDS", {"add", "remove"}}},
        {"ServiceSet", {"Service", {"stop", "start"}}},
    };
    for (const auto& set : root.children) {
        if (set->name == "AddRemoveInfo" || set->name == "BundleSet") continue;
        const auto known = kSets.find(set->name);
        if (known == kSets.end()) {
            out.add(set->line, "<" + set->name + "> is not a set of the manifest: the patcher refuses it");
            continue;
        }
        const auto& [entryName, operations] = known->second;
        for (const auto& entry : set->children) {
            if (entry->name != entryName) {
                out.add(entry->line, "<" + entry->name + "> in <" + set->name + "> is not a <" + entryName +
                                         "> entry: the patcher refuses the manifest");
                continue;
            }
            const Element* op = entry->child("Operation");
            if (!op) {
                out.add(entry->line, "<" + entryName + "> has no <Operation>");
            } else if (operations.count(op->text) == 0) {
                out.add(op->line,
                        "unknown operation \"" + op->text + "\": the patcher leaves the entry alone");
            }
            if (entryName == "File")
                for (const char* needed : {"ObjectName", "DestinationPath"})
                    if (!entry->child(needed))
                        out.add(entry->line, std::string("<File> has no <") + needed +
                                                 ">: the patcher refuses the manifest");
        }
    }
    return out.take();
}

}  // namespace mwbuild
