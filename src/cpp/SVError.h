// Status messages returned to JavaScript.
#ifndef KOVA_SVERROR_H
#define KOVA_SVERROR_H

#include <string>

class SVError {
public:
    static constexpr long kFailed = 0;
    static constexpr long kSuccess = 1;
    static constexpr long kParamError = 4096;
    static constexpr long kParamCountError = 4097;
    static constexpr long kParamTypeError = 4098;

    // 0 "operation failed.", 1 "operation success.", 4096 "param error.", 4097 "param count error",
    // 4098 "param type error", any other "unknow error".
    static std::string GetErrorMessage(long code) { return Text(code); }
    // The same text as a static string, for paths that must not allocate.
    static const char* Text(long code);
};

#endif  // KOVA_SVERROR_H
