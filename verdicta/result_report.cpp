#include "verdicta/result_report.h"

#include "platform/system/file_security.h"
#include "platform/text/text.h"
#include "verdicta/esd_ofstream.h"
#include "verdicta/xml_text.h"

namespace verdicta {

bool ResultReport::write() const {
    if (path_.empty()) return false;
    {
        ESDofstream out;
        if (!out.open(path_, "w")) return false;
        // The message goes in as character data: a message can never forge an element of its own.
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
            << "<Verdicta version=\"5\">\n"
            << "<ReturnCode>" << std::to_string(code_) << "</ReturnCode>\n"
            << "<UserMessage>" << xmlElementText(message_) << "</UserMessage>\n"
            << "</Verdicta>\n";
        out.flush();
    }
    // The update manager may run under another account: open the file to everyone. Best effort.
    win::setNullDacl(win::fromUtf8(path_));
    return true;
}

}  // namespace verdicta
