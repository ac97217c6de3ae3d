#include "common/Guard.h"

#include "common/ErrorReport.h"

Guard::Guard(std::wstring_view module, std::wstring_view routine) : location_(Location(module, routine)) {}

void Guard::failed(const Failure& failure) {
    last_ = failure;
    if (stopped_) return;
    if (location_) ReportError(*location_, step_, failure);
    if (stopWhen_ && stopWhen_(failure)) stopped_ = true;
}
