#pragma once

#include <QString>

// The program's fixed network endpoints. Each can be pointed elsewhere for tests
// and demonstrations with one environment variable; without it the built-in
// value holds.
namespace Endpoints {

// CORVANE_SERVICE_ORIGIN overrides it, e.g. "https://127.0.0.1:8443".
QString serviceOrigin();

// Host part of serviceOrigin(): the organisation domain of the application.
QString serviceHostName();

// CORVANE_SERVICE_CA: a PEM file of CA certificates trusted besides the system's, for a
// self-hosted service, demonstrations and tests. Empty by default.
QString serviceCaFile();

// CORVANE_NTP_HOST overrides it; by default the web service's host name.
QString defaultNtpHost();

} // namespace Endpoints
