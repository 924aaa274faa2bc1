#include "SVError.h"

const char* SVError::Text(long code) {
    switch (code) {
        case kFailed: return "operation failed.";
        case kSuccess: return "operation success.";
        case kParamError: return "param error.";
        case kParamCountError: return "param count error";
        case kParamTypeError: return "param type error";
        default: return "unknow error";
    }
}
