// The program's files through the kernel32 file services.
#include "app/toolkit/files.h"

#include "app/toolkit/win32/text.h"

#include <shlobj.h>

#include <vector>

using w32tk::Utf8;
using w32tk::Wide;

namespace {

TFileWrite Failed() { return {false, 0, w32tk::SystemErrorText(GetLastError())}; }

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }

// Writes all of `bytes` to an open file and reports its size afterwards.
TFileWrite WriteOpen(HANDLE file, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) return Failed();
        done += written;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return Failed();
    return {true, size.QuadPart, {}};
}

// Closes the handle when the scope ends.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

std::string WithSeparator(std::string folder) {
    if (folder.empty() || (folder.back() != '\\' && folder.back() != '/')) folder += '\\';
    return folder;
}

}  // namespace

std::string ProgramFolder() {
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return {};
        if (length < name.size()) return FolderOf(Utf8({name.data(), length}));
        name.resize(name.size() * 2);  // truncated: a longer path
    }
}

std::string UserDataFolder(std::string_view programName) {
    // %LOCALAPPDATA%: the operator's own, not carried to other machines.
    wchar_t* local = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local)))
        folder = Utf8(local);
    CoTaskMemFree(local);
    return WithSeparator(WithSeparator(folder) + std::string(programName));
}

std::string FolderOf(const std::string& fileName) {
    const std::wstring name = Wide(fileName);
    const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (length == 0) return {};
    std::vector<wchar_t> full(length);
    wchar_t* filePart = nullptr;
    const DWORD written = GetFullPathNameW(name.c_str(), length, full.data(), &filePart);
    if (written == 0 || written >= length) return {};
    std::wstring path(full.data(), written);
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::string{} : Utf8(path.substr(0, separator + 1));
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsWritableFolder(const std::string& path) {
    // Access rights, virtualisation and read-only media all show in one
    // honest test: creating a file there, which is gone when closed.
    if (!IsFolder(path)) return false;
    const std::wstring probe =
        Wide(WithSeparator(path)) + L"~write-test-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    const FileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.Valid();
}

bool IsFile(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeOwnFolder(const std::string& folder) {
    // The local application data folder already keeps other users out; a
    // folder made in it inherits that.
    SHCreateDirectoryExW(nullptr, Wide(folder).c_str(), nullptr);
}

TFileWrite WriteWholeFile(const std::string& fileName, std::string_view bytes) {
    const FileHandle file(CreateFileW(Wide(fileName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return Failed();
    return WriteOpen(file.Get(), bytes);
}

TFileWrite AppendToFile(const std::string& fileName, std::int64_t expectedSize,
                        std::string_view bytes) {
    const FileHandle file(CreateFileW(Wide(fileName).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return {};
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart != expectedSize) return {};
    return WriteOpen(file.Get(), bytes);
}
