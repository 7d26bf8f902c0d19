// The log-on task's XML: its trigger, principal, settings and action, with the program's path escaped.
#include <gtest/gtest.h>

#include <string>

#include "settings/logon_task_xml.h"

namespace {

const wchar_t kProgram[] = L"C:\\Tom & Jerry <x> Tools\\Temp\u904Bvaro.exe";
const wchar_t kUser[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";

std::wstring TaskXml(const wchar_t *program, const wchar_t *user, size_t size = kLogonTaskXmlSize) {
    static wchar_t xml[kLogonTaskXmlSize];
    if (!FormatLogonTaskXml(program, user, xml, size))
        return xml[0] == L'\0' ? L"<does not fit>" : L"<does not fit, but left text>";
    return xml;
}

// The text between <name> (or <name attributes>) and </name>; "<missing>" when the element is not there once.
std::wstring Element(const std::wstring &xml, const std::wstring &name) {
    size_t open = xml.find(L"<" + name + L">");
    if (open == std::wstring::npos)
        open = xml.find(L"<" + name + L" ");
    const size_t start = xml.find(L'>', open);
    const size_t end = xml.find(L"</" + name + L">");
    if (open == std::wstring::npos || end == std::wstring::npos || end < start ||
        xml.find(L"<" + name, end) != std::wstring::npos)
        return L"<missing>";
    return xml.substr(start + 1, end - start - 1);
}

} // namespace

TEST(LogonTaskXml, StartsTheProgramElevatedAtTheUsersLogOn) {
    const std::wstring xml = TaskXml(kProgram, kUser);
    EXPECT_EQ(xml.rfind(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Task ", 0), 0u) << xml;
    const std::wstring trigger = Element(Element(xml, L"Triggers"), L"LogonTrigger");
    EXPECT_EQ(Element(trigger, L"UserId"), kUser);
    EXPECT_EQ(Element(trigger, L"Enabled"), L"true");

    const std::wstring principal = Element(Element(xml, L"Principals"), L"Principal");
    EXPECT_EQ(Element(principal, L"UserId"), kUser);
    EXPECT_EQ(Element(principal, L"LogonType"), L"InteractiveToken");
    EXPECT_EQ(Element(principal, L"RunLevel"), L"HighestAvailable");
    // The action runs as the principal that the Actions element names.
    EXPECT_NE(xml.find(L"<Principal id=\"Author\">"), std::wstring::npos);
    EXPECT_NE(xml.find(L"<Actions Context=\"Author\">"), std::wstring::npos);

    const std::wstring settings = Element(xml, L"Settings");
    EXPECT_EQ(Element(settings, L"MultipleInstancesPolicy"), L"IgnoreNew");
    EXPECT_EQ(Element(settings, L"DisallowStartIfOnBatteries"), L"false");
    EXPECT_EQ(Element(settings, L"StopIfGoingOnBatteries"), L"false");
    EXPECT_EQ(Element(settings, L"ExecutionTimeLimit"), L"PT0S");
    EXPECT_EQ(Element(settings, L"Priority"), L"5");

    // The command is the path itself, unquoted: the task starts it as a file, not through a command line.
    const std::wstring exec = Element(Element(xml, L"Actions"), L"Exec");
    EXPECT_EQ(Element(exec, L"Command"), L"C:\\Tom &amp; Jerry &lt;x&gt; Tools\\Temp\u904Bvaro.exe");
    EXPECT_EQ(Element(exec, L"WorkingDirectory"), L"C:\\Tom &amp; Jerry &lt;x&gt; Tools");
    EXPECT_EQ(Element(exec, L"Arguments"), L"<missing>");
}

TEST(LogonTaskXml, RefusesWhatDoesNotFitAndLeavesNoText) {
    const size_t length = TaskXml(L"C:\\A B\\T.exe", L"PC\\u").size();
    EXPECT_EQ(TaskXml(L"C:\\A B\\T.exe", L"PC\\u", length + 1).size(), length);
    EXPECT_EQ(TaskXml(L"C:\\A B\\T.exe", L"PC\\u", length), L"<does not fit>");
    // A full-length path with every character escaped, and a long domain\user name, still fit.
    const std::wstring longPath = L"C:\\" + std::wstring(240, L'&') + L"\\T.exe";
    const std::wstring longUser = std::wstring(15, L'd') + L"\\" + std::wstring(104, L'<');
    EXPECT_NE(TaskXml(longPath.c_str(), longUser.c_str()).find(L"</Task>"), std::wstring::npos);
}
