#include "outside/kdt/descriptor.h"

#include <expat.h>

#include <map>
#include <memory>
#include <set>

namespace kdt {

namespace {

struct Node {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;
    std::vector<std::unique_ptr<Node>> children;
    Node* parent = nullptr;

    const Node* child(const std::string& n) const {
        for (const auto& c : children)
            if (c->name == n) return c.get();
        return nullptr;
    }
};

struct Builder {
    std::unique_ptr<Node> root;
    Node* current = nullptr;
};

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attrs) {
    auto* b = static_cast<Builder*>(data);
    auto node = std::make_unique<Node>();
    node->name = name;
    for (int i = 0; attrs[i]; i += 2) node->attributes[attrs[i]] = attrs[i + 1];
    node->parent = b->current;
    Node* raw = node.get();
    if (b->current)
        b->current->children.push_back(std::move(node));
    else
        b->root = std::move(node);
    b->current = raw;
}

void XMLCALL onEnd(void* data, const XML_Char*) {
    auto* b = static_cast<Builder*>(data);
    b->current = b->current->parent;
}

void XMLCALL onText(void* data, const XML_Char* s, int len) {
    auto* b = static_cast<Builder*>(data);
    if (b->current) b->current->text.append(s, static_cast<std::size_t>(len));
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// Elements the runtime knows, by parent; anything else is error 103.
const std::map<std::string, std::set<std::string>>& knownChildren() {
    static const std::map<std::string, std::set<std::string>> known = {
        {"application",
         {"id", "version", "filename", "description", "name", "copyright", "initialWindow", "installFolder",
          "programMenuFolder", "icon", "customUpdateUI", "allowBrowserInvocation", "fileTypes"}},
        {"initialWindow",
         {"content", "title", "systemChrome", "transparent", "visible", "width", "height", "x", "y",
          "minSize", "maxSize", "maximizable", "minimizable", "resizable"}},
        {"icon", {"image16x16", "image32x32", "image48x48", "image128x128"}},
        {"fileTypes", {"fileType"}},
        {"fileType", {"name", "extension", "description", "contentType", "icon"}},
    };
    return known;
}

// Version 1.0 of the descriptor: an http URI whose last part is "1.0" (pre-release ones end in
// "1.0.M5" or "1.0.M6" and are refused).
bool supportedNamespace(const std::string& ns) {
    const std::string tail = "/1.0";
    return ns.rfind("http://", 0) == 0 && ns.size() > tail.size() + 7 &&
           ns.compare(ns.size() - tail.size(), tail.size(), tail) == 0;
}

int fail(int code, const std::string& text, std::string& message) {
    message = "error " + std::to_string(code) + ": " + text;
    return code;
}

std::string pathOf(const Node& n) {
    return n.parent ? pathOf(*n.parent) + "." + n.name : n.name;
}

bool isDigits(const std::string& s) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool isBoolean(const std::string& s) {
    return s == "true" || s == "false";
}

bool validId(const std::string& id) {
    if (id.empty() || id.size() > 212) return false;
    for (char c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}

// "W H" with both decimal.
bool sizePair(const std::string& s, long& w, long& h) {
    const auto blank = s.find(' ');
    if (blank == std::string::npos) return false;
    const std::string a = s.substr(0, blank);
    const std::string b = trimmed(s.substr(blank + 1));
    if (!isDigits(a) || !isDigits(b)) return false;
    w = std::stol(a);
    h = std::stol(b);
    return true;
}

std::string decodeBlanks(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 3, "%20") == 0) {
            out += ' ';
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

int checkStructure(const Node& n, std::string& message) {
    for (const auto& [name, value] : n.attributes) {
        if (!(n.parent == nullptr && name == "xmlns"))
            return fail(103, "unexpected attribute " + pathOf(n) + "." + name, message);
    }
    const auto& known = knownChildren();
    const auto allowed = known.find(n.name);
    for (const auto& c : n.children) {
        if (allowed == known.end() || !allowed->second.count(c->name))
            return fail(103, "unexpected element " + pathOf(*c), message);
        if (int rc = checkStructure(*c, message)) return rc;
    }
    return 0;
}

int collectIcons(const Node* icon, std::vector<IconRef>& icons, std::string& message) {
    if (!icon) return 0;
    for (int size : {128, 48, 32, 16}) {
        const std::string name = "image" + std::to_string(size) + "x" + std::to_string(size);
        if (const Node* image = icon->child(name)) {
            const std::string path = trimmed(image->text);
            if (path.empty()) return fail(105, pathOf(*image) + " contains an invalid value", message);
            icons.push_back({size, path});
        }
    }
    return 0;
}

}  // namespace

int checkDescriptor(const std::string& xml, Descriptor& out, std::string& message) {
    out = Descriptor();
    Builder builder;
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(
        XML_ParserCreate(nullptr), &XML_ParserFree);
    XML_SetUserData(parser.get(), &builder);
    XML_SetElementHandler(parser.get(), onStart, onEnd);
    XML_SetCharacterDataHandler(parser.get(), onText);
    if (XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), 1) != XML_STATUS_OK ||
        !builder.root) {
        return fail(100,
                    std::string("descriptor could not be parsed: ") +
                        XML_ErrorString(XML_GetErrorCode(parser.get())) + " at line " +
                        std::to_string(XML_GetCurrentLineNumber(parser.get())),
                    message);
    }
    const Node& app = *builder.root;
    if (app.name != "application") return fail(103, "unexpected element " + app.name, message);
    const auto ns = app.attributes.find("xmlns");
    if (ns == app.attributes.end()) return fail(101, "descriptor has no namespace", message);
    if (!supportedNamespace(ns->second))
        return fail(102, "descriptor namespace " + ns->second + " is not supported", message);
    if (int rc = checkStructure(app, message)) return rc;

    for (const char* required : {"id", "version", "filename"}) {
        if (!app.child(required))
            return fail(104, std::string("application.") + required + " is missing", message);
    }
    const Node* window = app.child("initialWindow");
    if (!window) return fail(104, "application.initialWindow is missing", message);
    const Node* content = window->child("content");
    if (!content) return fail(104, "application.initialWindow.content is missing", message);

    if (!validId(trimmed(app.child("id")->text)))
        return fail(105, "application.id contains an invalid value", message);
    for (const char* name : {"version", "filename"}) {
        if (trimmed(app.child(name)->text).empty())
            return fail(105, std::string("application.") + name + " contains an invalid value", message);
    }
    out.content = decodeBlanks(trimmed(content->text));
    if (out.content.empty())
        return fail(105, "application.initialWindow.content contains an invalid value", message);
    for (const auto& c : window->children) {
        const std::string v = trimmed(c->text);
        bool ok = true;
        if (c->name == "systemChrome")
            ok = v == "none" || v == "standard";
        else if (c->name == "transparent" || c->name == "visible" || c->name == "maximizable" ||
                 c->name == "minimizable" || c->name == "resizable")
            ok = isBoolean(v);
        else if (c->name == "width" || c->name == "height" || c->name == "x" || c->name == "y")
            ok = isDigits(v);
        else if (c->name == "minSize" || c->name == "maxSize") {
            long w = 0, h = 0;
            ok = sizePair(v, w, h);
        }
        if (!ok) return fail(105, pathOf(*c) + " contains an invalid value", message);
    }
    for (const char* name : {"customUpdateUI", "allowBrowserInvocation"}) {
        if (const Node* n = app.child(name); n && !isBoolean(trimmed(n->text)))
            return fail(105, pathOf(*n) + " contains an invalid value", message);
    }
    // A transparent window draws its own frame: it cannot have the system's.
    const Node* chrome = window->child("systemChrome");
    const Node* transparent = window->child("transparent");
    if (transparent && trimmed(transparent->text) == "true" && (!chrome || trimmed(chrome->text) != "none"))
        return fail(106, "transparent windows need systemChrome none", message);
    const Node* minSize = window->child("minSize");
    const Node* maxSize = window->child("maxSize");
    if (minSize && maxSize) {
        long minW = 0, minH = 0, maxW = 0, maxH = 0;
        sizePair(trimmed(minSize->text), minW, minH);
        sizePair(trimmed(maxSize->text), maxW, maxH);
        if (minW > maxW || minH > maxH)
            return fail(107,
                        "application.initialWindow.minSize is greater than application.initialWindow.maxSize",
                        message);
    }
    if (int rc = collectIcons(app.child("icon"), out.icons, message)) return rc;
    if (const Node* types = app.child("fileTypes")) {
        for (const auto& type : types->children) {
            for (const char* required : {"name", "extension"}) {
                const Node* n = type->child(required);
                if (!n) return fail(104, pathOf(*type) + "." + required + " is missing", message);
                if (trimmed(n->text).empty())
                    return fail(105, pathOf(*n) + " contains an invalid value", message);
            }
            if (int rc = collectIcons(type->child("icon"), out.icons, message)) return rc;
        }
    }
    return 0;
}

}  // namespace kdt
