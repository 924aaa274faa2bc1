// The C entry points of the stand-in SDK library. Test variants of the library are built from this
// file with one entry point left out (KOVA_STANDIN_NO_CREATE, _NO_DESTROY, _NO_CRASHDUMP,
// _NO_LOGUPLOAD) or with a journal tag (KOVA_STANDIN_LIB_TAG).
#include <climits>
#include <cstdlib>

#include "State.h"

namespace kova_standin {

const char* LibraryTag() {
#ifdef KOVA_STANDIN_LIB_TAG
    return KOVA_STANDIN_LIB_TAG;
#else
    return nullptr;
#endif
}

}  // namespace kova_standin

using namespace kova_standin;

#ifndef KOVA_STANDIN_NO_CREATE
KOVA_EXPORT solvane::kovawin::IKOV_API* CreateKOVAWinClient() {
    Enter(__func__);
    return CreateClient();
}
#endif

#ifndef KOVA_STANDIN_NO_DESTROY
KOVA_EXPORT void DestroyKOVAWinClient() {
    Enter(__func__);
    DestroyClient();
}
#endif

#ifndef KOVA_STANDIN_NO_CRASHDUMP
KOVA_EXPORT void EnableKOVASDKCrashDump() { Enter(__func__); }
#endif

#ifndef KOVA_STANDIN_NO_LOGUPLOAD
// Journals the command line and returns KOVA_STANDIN_LOGUPLOAD_RESULT (default 0), or the result
// a test configured for it.
KOVA_EXPORT int startKovaLogUpload(int argc, char** argv) {
    Json list = nullptr;
    if (argv != nullptr) {
        list = Json::array();
        for (int i = 0; i < argc && i < kMaxRecords; ++i) list.push_back(ZeroTerminated(argv[i]));
    }
    long fallback = 0;
    if (const char* text = std::getenv("KOVA_STANDIN_LOGUPLOAD_RESULT")) fallback = std::strtol(text, nullptr, 10);
    if (fallback < INT_MIN || fallback > INT_MAX) fallback = 0;
    return static_cast<int>(EnterWithArgs(__func__, Json::array({argc, std::move(list)}), fallback));
}
#endif
