// A job list as the service might send it: any bytes, parsed as JSON and then as jobs.
#include "web/jobprocessor.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    JobProcessor::Job job;
    QString reason;
    const int code = JobProcessor::parseJobResponse(doc, &job, &reason);
    // A valid job is exactly the outcome 0, and every failure says why.
    if ((code == 0) != job.valid || (code >= 2 && reason.isEmpty()))
        __builtin_trap();
    return 0;
}
