#include "SVError.h"

std::string SVError::GetErrorMessage(long code) {
    switch (code) {
        case kFailed: return "operation failed.";
        case kSuccess: return "operation success.";
        case kParamError: return "param error.";
        case kParamCountError: return "param count error";
        case kParamTypeError: return "param type error";
        default: return "unknow error";
    }
}
