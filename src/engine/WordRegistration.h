#pragma once
// What the registry tells of Word without starting it: whether the class is
// registered, whether its server's program is on disk, and its version.
#include <optional>
#include <string>

struct WordRegistration {
    bool registered = false;        // the ProgID resolves to a class
    std::wstring server;            // LocalServer32's program, when it names an existing file
    std::optional<double> version;  // from CurVer, else from the server's version resource
};
WordRegistration ReadWordRegistration(const std::wstring& progId);

// The program a LocalServer32 command line starts, when it names an
// existing file by its full path (quoted or not, arguments after it);
// empty otherwise.
std::wstring ServerProgram(const std::wstring& commandLine);
// The version a CurVer value names: "Word.Application.16" gives 16.
std::optional<double> CurVerVersion(const std::wstring& progId, const std::wstring& curVer);
