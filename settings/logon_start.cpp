// The log-on start: a scheduled task that runs the program with the highest privileges when the user logs on.
#include "settings/logon_start.h"

#include <windows.h>

#include <taskschd.h>

#include "platform/com_guards.h"
#include "platform/owned_handle.h"
#include "platform/program_path_win32.h"
#include "settings/logon_task_xml.h"
#include "settings/program_guard.h"

namespace {

// Earlier builds registered one task of a fixed name; each user's task now is named by this prefix and the user's SID.
const wchar_t kOldTaskName[] = L"Tempvaro";
const wchar_t kTaskNamePrefix[] = L"Tempvaro-";

const wchar_t kRootFolder[] = L"\\";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// A SID's text is at most 184 characters; the task's name adds the readable part before it.
const DWORD kSidSize = 192;
const size_t kTaskNameSize = kSidSize + 16;

bool IsMissing(HRESULT result) {
    return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// A counted string for COM, freed when its owner goes out of scope; null when it could not be made.
class ComString {
public:
    explicit ComString(const wchar_t *text) : text_(SysAllocString(text)) {}
    ComString(const ComString &) = delete;
    ComString &operator=(const ComString &) = delete;
    ~ComString() { SysFreeString(text_); }

    BSTR Get() const { return text_; }
    BSTR *Out() { return &text_; }

private:
    BSTR text_;
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

// The running user's own task: a second user's save neither replaces nor removes the first user's.
bool LogonTaskName(wchar_t (&name)[kTaskNameSize], wchar_t (&sid)[kSidSize]) {
    const size_t prefix = wcslen(kTaskNamePrefix);
    if (!CurrentUserSid(sid, kSidSize) || prefix + wcslen(sid) >= kTaskNameSize)
        return false;
    wcscpy(name, kTaskNamePrefix);
    wcscpy(name + prefix, sid);
    return true;
}

// Whether the user a task runs as is the running user, in any form the Task Scheduler gives the id back in.
Verdict RunsAsCurrentUser(IRegisteredTask *task) {
    ComRef<ITaskDefinition> definition;
    ComRef<IPrincipal> principal;
    ComString userId(nullptr);
    return SUCCEEDED(task->get_Definition(definition.Out())) && SUCCEEDED(definition->get_Principal(principal.Out())) &&
                   SUCCEEDED(principal->get_UserId(userId.Out())) && userId.Get() != nullptr
               ? UserIdVerdict(userId.Get())
               : Verdict::kUnknown;
}

// Deletes a task; one that is not there is as good as deleted.
bool DeleteNamedTask(const TaskLibrary &library, BSTR name) {
    const HRESULT result = library->DeleteTask(name, 0);
    return SUCCEEDED(result) || IsMissing(result);
}

// Whether only administrators may change the task itself: a task of the user's name that someone made before the user
// saved, or changed since, may be hers.
Verdict OnlyAdministratorsMayChangeTask(IRegisteredTask *task) {
    ComString sddl(nullptr);
    return SUCCEEDED(task->GetSecurityDescriptor(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sddl.Out())) &&
                   sddl.Get() != nullptr
               ? TaskDescriptorVerdict(sddl.Get())
               : Verdict::kUnknown;
}

// Whether the task starts exactly one program, by the path the guard would register now for a program it allows. An
// earlier build registered the path as the program was started, and only checked that its user could not change it.
Verdict StartsGuardedProgram(IRegisteredTask *task) {
    ComRef<ITaskDefinition> definition;
    ComRef<IActionCollection> actions;
    ComRef<IAction> action;
    ComRef<IExecAction> exec;
    ComString path(nullptr);
    LONG count = 0;
    if (FAILED(task->get_Definition(definition.Out())) || FAILED(definition->get_Actions(actions.Out())) ||
        FAILED(actions->get_Count(&count)))
        return Verdict::kUnknown;
    if (count != 1 || FAILED(actions->get_Item(1, action.Out())) ||
        FAILED(action->QueryInterface(IID_IExecAction, exec.OutVoid())))
        return Verdict::kRefused;
    // A null text is an empty one, which starts no program of ours.
    if (FAILED(exec->get_Path(path.Out())))
        return Verdict::kUnknown;
    return path.Get() != nullptr && TaskProgramIsGuarded(path.Get()) ? Verdict::kAllowed : Verdict::kRefused;
}

// What to do with the running user's task of one name.
enum class TaskRemoval { kAlways, kWhenRefused };

// Removes the running user's task of `name`, always or when it is definitely not one the user may keep: it runs as
// another user, someone else may change it, or it starts what the guard refuses; `kept` is set when it stays as
// allowed. A task of the per-user name is the user's by its name, whoever made it; one of the old name only when it
// runs as the user, so another user's, or one whose user cannot be read, is not ours to touch. False when the library
// could not say, a task's reading was not definite (it stays), or the task could not be deleted.
bool RemoveOwnTask(const TaskLibrary &library, const wchar_t *name, TaskRemoval removal, bool &kept) {
    const ComString text(name);
    ComRef<IRegisteredTask> task;
    if (text.Get() == nullptr)
        return false;
    const HRESULT found = library->GetTask(text.Get(), task.Out());
    if (FAILED(found))
        return IsMissing(found);
    const Verdict user = RunsAsCurrentUser(task.Get());
    if (wcscmp(name, kOldTaskName) == 0 && user != Verdict::kAllowed)
        return true;
    if (removal == TaskRemoval::kWhenRefused) {
        const Verdict verdict =
            Worse(user, Worse(OnlyAdministratorsMayChangeTask(task.Get()), StartsGuardedProgram(task.Get())));
        if (verdict != Verdict::kRefused) {
            kept = kept || verdict == Verdict::kAllowed;
            return verdict == Verdict::kAllowed;
        }
    }
    return DeleteNamedTask(library, text.Get());
}

bool RemoveOldNamedTask(const TaskLibrary &library) {
    bool kept = false;
    return RemoveOwnTask(library, kOldTaskName, TaskRemoval::kAlways, kept);
}

// An earlier build started the program from the Run key, which Windows does not do for a program that asks for
// elevation; a value left there is a dead entry.
void RemoveOldRunValue(const wchar_t *programPath) {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunKey, FileNamePart(programPath));
}

} // namespace

bool RegisterLogonTask(const wchar_t *programPath) {
    wchar_t taskName[kTaskNameSize] = {};
    wchar_t sid[kSidSize] = {};
    wchar_t xml[kLogonTaskXmlSize];
    wchar_t sddl[kLogonTaskSddlSize];
    if (!LogonTaskName(taskName, sid) || !FormatLogonTaskXml(programPath, sid, xml, kLogonTaskXmlSize) ||
        !FormatLogonTaskSddl(sid, sddl, kLogonTaskSddlSize))
        return false;
    TaskLibrary library;
    const ComString name(taskName);
    const ComString text(xml);
    const ComString security(sddl);
    if (!library.Connect() || name.Get() == nullptr || text.Get() == nullptr || security.Get() == nullptr)
        return false;
    // No user or password: the task runs with the token of whoever the principal names, once they have logged on.
    // A task of this name that someone else made first would keep her rights to change it through an update, so it
    // is deleted and ours made new, with its own descriptor and no entry added for the principal; if someone makes it
    // again in between, creating fails.
    const VARIANT none = {};
    VARIANT descriptor = {};
    V_VT(&descriptor) = VT_BSTR;
    V_BSTR(&descriptor) = security.Get();
    ComRef<IRegisteredTask> task;
    return DeleteNamedTask(library, name.Get()) &&
           SUCCEEDED(library->RegisterTask(name.Get(), text.Get(), TASK_CREATE | TASK_DONT_ADD_PRINCIPAL_ACE, none,
                                           none, TASK_LOGON_INTERACTIVE_TOKEN, descriptor, task.Out())) &&
           RemoveOldNamedTask(library);
}

bool RemoveLogonTask() {
    wchar_t taskName[kTaskNameSize] = {};
    wchar_t sid[kSidSize] = {};
    if (!LogonTaskName(taskName, sid))
        return false;
    TaskLibrary library;
    const ComString name(taskName);
    if (!library.Connect() || name.Get() == nullptr)
        return false;
    return DeleteNamedTask(library, name.Get()) && RemoveOldNamedTask(library);
}

bool RemoveRefusedLogonTasks(bool &registered) {
    wchar_t taskName[kTaskNameSize] = {};
    wchar_t sid[kSidSize] = {};
    TaskLibrary library;
    registered = false;
    return LogonTaskName(taskName, sid) && library.Connect() &&
           RemoveOwnTask(library, taskName, TaskRemoval::kWhenRefused, registered) &&
           RemoveOwnTask(library, kOldTaskName, TaskRemoval::kWhenRefused, registered);
}

int SetAutoRun(int mode) {
    wchar_t path[kPathSize] = {};
    if (!ProgramFilePath(path, kPathSize))
        return 0;
    wchar_t taskPath[kPathSize] = {};
    const bool changed = mode == 1 ? ProgramMayStartAtLogOn(path, taskPath, kPathSize) && RegisterLogonTask(taskPath)
                                   : RemoveLogonTask();
    // A dead entry left by an earlier build; whether it goes or not, the task alone decides what AutoRun says.
    RemoveOldRunValue(path);
    return changed ? 1 : 0;
}
