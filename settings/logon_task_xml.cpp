// The scheduled task that starts the program at log-on, written as Task Scheduler XML.
#include "settings/logon_task_xml.h"

#include <wchar.h>

#include "platform/program_path.h"

namespace {

// The trigger and the principal name the user by SID, which needs no name look-up: a log-on trigger without one
// fires at every user's log-on. InteractiveToken runs the program in the user's session, HighestAvailable with the
// user's full token; PT0S is no time limit. Priority 5 is a normal process; the default, 7, would run the program
// and everything it starts below normal.
const char kTaskStart[] = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
                          "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
                          "<Triggers>\n"
                          "<LogonTrigger>\n"
                          "<Enabled>true</Enabled>\n"
                          "<UserId>";
const char kTriggerEnd[] = "</UserId>\n"
                           "</LogonTrigger>\n"
                           "</Triggers>\n"
                           "<Principals>\n"
                           "<Principal id=\"Author\">\n"
                           "<UserId>";
const char kPrincipalEnd[] = "</UserId>\n"
                             "<LogonType>InteractiveToken</LogonType>\n"
                             "<RunLevel>HighestAvailable</RunLevel>\n"
                             "</Principal>\n"
                             "</Principals>\n"
                             "<Settings>\n"
                             "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
                             "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
                             "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
                             "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n"
                             "<Priority>5</Priority>\n"
                             "<Enabled>true</Enabled>\n"
                             "</Settings>\n"
                             "<Actions Context=\"Author\">\n"
                             "<Exec>\n"
                             "<Command>";
const char kCommandEnd[] = "</Command>\n"
                           "<WorkingDirectory>";
const char kTaskEnd[] = "</WorkingDirectory>\n"
                        "</Exec>\n"
                        "</Actions>\n"
                        "</Task>\n";

// Only SYSTEM and Administrators may change the task and the user may read it, so that nobody else can point it at
// another program; the user's SID and ")" follow. The owner is named too: whoever owns a task may re-permission it.
const char kSddlStart[] = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;";

// Appends to a fixed buffer; once something does not fit, nothing more is written and the result is false.
class XmlWriter {
public:
    XmlWriter(wchar_t *buffer, size_t size) : buffer_(buffer), size_(size) {
        if (size_ > 0)
            buffer_[0] = L'\0';
        else
            fits_ = false;
    }

    // The fixed text is ASCII, kept in narrow characters to keep the program small.
    void Text(const char *text) {
        for (; *text != '\0'; ++text)
            Character(static_cast<wchar_t>(*text));
    }
    // Element content: the five characters with a meaning in XML become entities.
    void Escaped(const wchar_t *text) {
        for (; *text != L'\0'; ++text) {
            switch (*text) {
            case L'&':
                Text("&amp;");
                break;
            case L'<':
                Text("&lt;");
                break;
            case L'>':
                Text("&gt;");
                break;
            case L'"':
                Text("&quot;");
                break;
            case L'\'':
                Text("&apos;");
                break;
            default:
                Character(*text);
                break;
            }
        }
    }
    bool Fits() const { return fits_; }

private:
    void Character(wchar_t c) {
        if (!fits_ || length_ + 1 >= size_) {
            fits_ = false;
            return;
        }
        buffer_[length_++] = c;
        buffer_[length_] = L'\0';
    }

    wchar_t *buffer_;
    size_t size_;
    size_t length_ = 0;
    bool fits_ = true;
};

} // namespace

// The same writer: a SID holds no character that XML escapes.
bool FormatLogonTaskSddl(const wchar_t *userId, wchar_t *sddl, size_t size) {
    XmlWriter writer(sddl, size);
    writer.Text(kSddlStart);
    writer.Escaped(userId);
    writer.Text(")");
    return writer.Fits();
}

bool FormatLogonTaskXml(const wchar_t *programPath, const wchar_t *userId, wchar_t *xml, size_t size) {
    wchar_t folder[kPathSize] = {};
    if (!DirectoryPart(programPath, folder, kPathSize))
        return false;
    XmlWriter writer(xml, size);
    writer.Text(kTaskStart);
    writer.Escaped(userId);
    writer.Text(kTriggerEnd);
    writer.Escaped(userId);
    writer.Text(kPrincipalEnd);
    writer.Escaped(programPath);
    writer.Text(kCommandEnd);
    writer.Escaped(folder);
    writer.Text(kTaskEnd);
    if (!writer.Fits() && size > 0)
        xml[0] = L'\0';
    return writer.Fits();
}
