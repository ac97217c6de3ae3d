#include "Guard.h"

#include "ErrorReport.h"

void Guard::failed(const Failure& failure) {
    last_ = failure;
    if (stopped_) return;
    if (location_) ReportError(*location_, step_, failure);
    if (stopWhen_ && stopWhen_(failure)) stopped_ = true;
}
