#include "common/Guard.h"

#include "common/ErrorReport.h"

Guard::Guard(std::wstring_view module, std::wstring_view routine) : location_(Location(module, routine)) {}

void Guard::failed(const Failure& failure) {
    last_ = failure;
    if (stopped_) return;
    if (holdBack_ && holdBack_(failure)) {
        if (!held_) held_ = Held{step_, failure};
    } else if (location_) {
        ReportError(*location_, step_, failure);
    }
    if (stopWhen_ && stopWhen_(failure)) stopped_ = true;
}
