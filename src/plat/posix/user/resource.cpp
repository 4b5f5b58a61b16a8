/*
 * resource.cpp - the executable's resources: strings, accelerator tables and icons.
 *
 * The program registers its resource tables with plat_addresources (from a static
 * initializer); the loaders search them in registration order. The instance handle is
 * not looked at: there is one executable and no loadable module with resources.
 * Locks: one lock around the table list; the tables themselves never change.
 */
#include "user.h"

#include <cstring>

namespace {

std::mutex reslock;
std::vector<const plat_resources *> tables;

/* Icon handles are tokens: no icon is ever drawn. */
constexpr ULONG_PTR moduleicon = 0x00A10000;
constexpr ULONG_PTR systemicon = 0x00A20000;
constexpr ULONG_PTR systemcursor = 0x00A30000;
constexpr UINT firstsystemicon = 32512; /* IDI_APPLICATION .. IDI_WINLOGO */
constexpr UINT lastsystemicon = 32517;

} // namespace

const plat_accelres *platuser::findaccel(HACCEL accel) {
    platuser::userguard guard(reslock);
    for (const plat_resources *r : tables)
        for (int i = 0; i < r->accelcount; i++)
            if ((HACCEL)(const void *)&r->accels[i] == accel)
                return &r->accels[i];
    return nullptr;
}

int plat_addresources(const plat_resources *res) {
    platuser::userguard guard(reslock);
    tables.push_back(res);
    return 1;
}

/* Copies string uID into the buffer, cut to cchBufferMax - 1 characters, and returns
 * the number copied. A missing string gives 0 and an empty buffer; a buffer of size 0
 * or less gives 0 and is not touched. */
int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    (void)hInstance;
    if (!lpBuffer || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char *text = nullptr;
    {
        platuser::userguard guard(reslock);
        for (const plat_resources *r : tables)
            for (int i = 0; i < r->stringcount && !text; i++)
                if (r->strings[i].id == uID)
                    text = r->strings[i].text;
    }
    if (!text) {
        lpBuffer[0] = '\0';
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    size_t n = strlen(text);
    if (n > (size_t)cchBufferMax - 1)
        n = (size_t)cchBufferMax - 1;
    memcpy(lpBuffer, text, n);
    lpBuffer[n] = '\0';
    return (int)n;
}

/* The accelerator table with the given MAKEINTRESOURCEA id, or null with
 * ERROR_RESOURCE_NAME_NOT_FOUND (tables are known by number only). */
HACCEL WINAPI LoadAcceleratorsA(HINSTANCE hInstance, LPCSTR lpTableName) {
    (void)hInstance;
    if (IS_INTRESOURCE(lpTableName)) {
        UINT id = (UINT)(ULONG_PTR)lpTableName;
        platuser::userguard guard(reslock);
        for (const plat_resources *r : tables)
            for (int i = 0; i < r->accelcount; i++)
                if (r->accels[i].id == id)
                    return (HACCEL)(const void *)&r->accels[i];
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

/* A non-null token for a registered icon id, or with no instance for one of the system
 * icons; null with ERROR_RESOURCE_NAME_NOT_FOUND otherwise. */
HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
    if (IS_INTRESOURCE(lpIconName)) {
        UINT id = (UINT)(ULONG_PTR)lpIconName;
        if (!hInstance && id >= firstsystemicon && id <= lastsystemicon)
            return (HICON)(systemicon | id);
        platuser::userguard guard(reslock);
        for (const plat_resources *r : tables)
            for (int i = 0; i < r->iconcount; i++)
                if (r->icons[i] == id)
                    return (HICON)(moduleicon | id);
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

/* A non-null token for one of the system cursors (IDC_ARROW ...) asked for with no
 * instance; programs have no cursor resources here: null with
 * ERROR_RESOURCE_NAME_NOT_FOUND otherwise. */
HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    constexpr UINT firstsystemcursor = 32512, lastsystemcursor = 32651;
    if (!hInstance && IS_INTRESOURCE(lpCursorName)) {
        UINT id = (UINT)(ULONG_PTR)lpCursorName;
        if (id >= firstsystemcursor && id <= lastsystemcursor)
            return (HCURSOR)(systemcursor | id);
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}
