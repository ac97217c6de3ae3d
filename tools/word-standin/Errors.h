#pragma once
// How a member fails.  Word reports its own errors as DISP_E_EXCEPTION with
// an EXCEPINFO whose scode is 0x800A0000 plus Word's error number; argument
// and name problems come back as plain dispatch HRESULTs.
#include <windows.h>

#include <string>

inline constexpr long kErrorMemberNotInCollection = 5941;  // "The requested member of the collection does not exist."
inline constexpr long kErrorObjectDeleted = 5825;          // a closed document or its range
inline constexpr long kErrorInvalidFileName = 5152;        // SaveAs into a missing folder
inline constexpr long kErrorCannotSave = 5153;             // SaveAs that cannot write the file
inline constexpr long kErrorClipboard = 4605;              // Paste of an empty clipboard, a clipboard in use
inline constexpr long kErrorCannotOpen = 5174;             // a file named on the command line

inline constexpr HRESULT WordScode(long number) { return static_cast<HRESULT>(0x800A0000u | (number & 0xFFFF)); }

struct WordError {
    WordError(long n, std::wstring text) : number(n), description(std::move(text)) {}
    long number;
    std::wstring description;
};

// A failure that is not an automation exception, e.g. DISP_E_BADPARAMCOUNT.
struct DispatchError {
    HRESULT hr;
    UINT argument = 0;  // for DISP_E_TYPEMISMATCH and DISP_E_PARAMNOTFOUND
};
