// The log-on start: a scheduled task that runs the program with the highest privileges when the user logs on.
#include "settings/logon_start.h"

#include <windows.h>

#include <taskschd.h>

#include "platform/owned_handle.h"
#include "platform/program_path_win32.h"
#include "settings/logon_task_xml.h"
#include "settings/program_guard.h"

const wchar_t kLogonTaskName[] = L"Tempvaro";

namespace {

const wchar_t kRootFolder[] = L"\\";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// A domain name, a backslash and a user name, each at their longest.
const DWORD kNameSize = 256;
const DWORD kUserIdSize = 2 * kNameSize + 1;

// A COM interface released when its owner goes out of scope.
template <typename Interface> class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ~ComRef() {
        if (pointer_ != nullptr)
            pointer_->Release();
    }

    Interface *Get() const { return pointer_; }
    Interface *operator->() const { return pointer_; }
    Interface **Out() { return &pointer_; }
    void **OutVoid() { return reinterpret_cast<void **>(&pointer_); }

private:
    Interface *pointer_ = nullptr;
};

// A counted string for COM, freed when its owner goes out of scope; null when it could not be made.
class ComString {
public:
    explicit ComString(const wchar_t *text) : text_(SysAllocString(text)) {}
    ComString(const ComString &) = delete;
    ComString &operator=(const ComString &) = delete;
    ~ComString() { SysFreeString(text_); }

    BSTR Get() const { return text_; }

private:
    BSTR text_;
};

// COM on this thread while the object lives. Apartment-threaded, as a window's thread must be; a thread that already
// uses the other model can still make the calls, but is not ours to uninitialise.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }

    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

// The root folder of the local Task Scheduler library. Members are released in reverse order, COM last.
class TaskLibrary {
public:
    bool Connect() {
        const ComString root(kRootFolder);
        const VARIANT local = {};
        return com_.Usable() && root.Get() != nullptr &&
               SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                          service_.OutVoid())) &&
               SUCCEEDED(service_->Connect(local, local, local, local)) &&
               SUCCEEDED(service_->GetFolder(root.Get(), folder_.Out()));
    }
    ITaskFolder *operator->() const { return folder_.Get(); }

private:
    ComApartment com_;
    ComRef<ITaskService> service_;
    ComRef<ITaskFolder> folder_;
};

// The running user as "domain\name", taken from the process's own token.
bool CurrentUserId(wchar_t *userId, DWORD size) {
    OwnedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out()))
        return false;
    union {
        TOKEN_USER user;
        BYTE room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD infoSize = 0;
    if (!GetTokenInformation(token.Get(), TokenUser, &info, sizeof info, &infoSize))
        return false;
    wchar_t name[kNameSize] = {};
    wchar_t domain[kNameSize] = {};
    DWORD nameSize = kNameSize;
    DWORD domainSize = kNameSize;
    SID_NAME_USE use;
    return LookupAccountSidW(nullptr, info.user.User.Sid, name, &nameSize, domain, &domainSize, &use) &&
           JoinWithBackslash(domain, domainSize, name, userId, size);
}

// An earlier build started the program from the Run key, which Windows does not do for a program that asks for
// elevation; a value left there is a dead entry.
bool RemoveOldRunValue(const wchar_t *programPath) {
    const LONG status = RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunKey, FileNamePart(programPath));
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

} // namespace

bool RegisterLogonTask(const wchar_t *programPath) {
    wchar_t userId[kUserIdSize] = {};
    wchar_t xml[kLogonTaskXmlSize];
    if (!CurrentUserId(userId, kUserIdSize) || !FormatLogonTaskXml(programPath, userId, xml, kLogonTaskXmlSize))
        return false;
    TaskLibrary library;
    const ComString name(kLogonTaskName);
    const ComString text(xml);
    if (!library.Connect() || name.Get() == nullptr || text.Get() == nullptr)
        return false;
    // No user or password: the task runs with the token of whoever the principal names, once they have logged on.
    const VARIANT none = {};
    ComRef<IRegisteredTask> task;
    return SUCCEEDED(library->RegisterTask(name.Get(), text.Get(), TASK_CREATE_OR_UPDATE, none, none,
                                           TASK_LOGON_INTERACTIVE_TOKEN, none, task.Out()));
}

bool RemoveLogonTask() {
    TaskLibrary library;
    const ComString name(kLogonTaskName);
    if (!library.Connect() || name.Get() == nullptr)
        return false;
    const HRESULT result = library->DeleteTask(name.Get(), 0);
    return SUCCEEDED(result) || result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

int SetAutoRun(int mode) {
    wchar_t path[kPathSize] = {};
    if (!ProgramFilePath(path, kPathSize))
        return 0;
    const bool changed = mode == 1 ? !UserMayChangeProgram(path) && RegisterLogonTask(path) : RemoveLogonTask();
    return changed && RemoveOldRunValue(path) ? 1 : 0;
}
