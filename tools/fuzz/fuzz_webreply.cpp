// A reply of the web service: any status among those the client tells apart, any body, for any
// request type (and one it does not know), through the same handling as a real reply.
#include "web/slwebservice.h"

#include <QUrl>
#include <QVariant>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // One client for the whole run: its network manager is costly to make.
    static SlWebService *service = new SlWebService;
    static const int statuses[] = {200, 201, 400, 406, 500, 0, 302, 404};
    const int type = int(data[0] % 14) - 1;
    const int status = statuses[data[1] % 8];
    const QByteArray body(reinterpret_cast<const char *>(data + 2), int(size - 2));

    int networkErrors = 0;
    const auto counter = QObject::connect(service, &SlWebService::networkError,
                                          [&networkErrors] { ++networkErrors; });
    service->handleReply(type, status, body, QVariant(), QUrl());
    QObject::disconnect(counter);

    // Every reply ends in one of the outcomes; an internet error is announced once, and only a
    // 200 or 201 is ever a success.
    const int error = service->error();
    if (error < SlWebService::SUCCESSFUL || error > SlWebService::SIGNATURE_WRONG)
        __builtin_trap();
    if ((error == SlWebService::INTERNET_ERROR) != (networkErrors == 1))
        __builtin_trap();
    if (error == SlWebService::SUCCESSFUL && status != 200 && status != 201)
        __builtin_trap();
    return 0;
}
