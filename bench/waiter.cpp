// Runs inside the Wine prefix before a program is launched and stamps the moment its window
// shows, so the measurement does not include starting a Wine process per poll.
// Commands on stdin, one a line; answers on stdout, one a line:
//   now                                -> "now <unix time>"
//   wait <ms> <class|-> <caption|->    -> "ready" once no such window exists, then
//                                         "shown <t visible> <t painted>" or "timeout"
// Times are Unix seconds from GetSystemTimePreciseAsFileTime (the host's real-time clock).
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>

static double Now()
{
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const ULONGLONG t = (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return double(t - 116444736000000000ULL) / 1e7; // 100 ns ticks since 1601 -> Unix seconds
}

static void Say(const char* line)
{
    DWORD n;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, DWORD(strlen(line)), &n, nullptr);
}

static bool ReadLine(std::string& line)
{
    line.clear();
    char c;
    DWORD n;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, nullptr) && n == 1) {
        if (c == '\n')
            return true;
        if (c != '\r')
            line += c;
    }
    return !line.empty();
}

static BOOL CALLBACK ChildPending(HWND child, LPARAM pending)
{
    if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE))
        *reinterpret_cast<bool*>(pending) = true;
    return !*reinterpret_cast<bool*>(pending);
}

// Visible, and nothing left to paint in it or its children.
static bool Painted(HWND hwnd)
{
    if (GetUpdateRect(hwnd, nullptr, FALSE))
        return false;
    bool pending = false;
    EnumChildWindows(hwnd, ChildPending, reinterpret_cast<LPARAM>(&pending));
    return !pending;
}

int main()
{
    std::string line;
    char out[128];
    while (ReadLine(line)) {
        if (line == "now") {
            snprintf(out, sizeof out, "now %.6f\n", Now());
            Say(out);
            continue;
        }
        char cls[256] = "", cap[256] = "";
        unsigned ms = 0;
        if (sscanf(line.c_str(), "wait %u %255s %255[^\n]", &ms, cls, cap) != 3) {
            Say("error\n");
            continue;
        }
        const char* c = strcmp(cls, "-") ? cls : nullptr;
        const char* t = strcmp(cap, "-") ? cap : nullptr;
        const ULONGLONG end = GetTickCount64() + ms;
        while (FindWindowA(c, t) && GetTickCount64() < end)
            Sleep(1);
        Say("ready\n");
        double visible = 0;
        HWND hwnd = nullptr;
        for (;; Sleep(1)) {
            if (GetTickCount64() >= end) {
                Say("timeout\n");
                break;
            }
            if (!visible) {
                hwnd = FindWindowA(c, t);
                if (hwnd && IsWindowVisible(hwnd))
                    visible = Now();
            }
            if (visible && Painted(hwnd)) {
                snprintf(out, sizeof out, "shown %.6f %.6f\n", visible, Now());
                Say(out);
                break;
            }
        }
    }
    return 0;
}
