#pragma once

#include <QString>

// Why an exchange failed: it ended without an HTTP reply (or broke off during one: no
// connection, name not resolved, TLS refused, time-out, cancelled, reply too large), a
// configuration kept the request from being sent at all, or the reply's status was not 2xx.
struct TransportError {
    enum class Kind {
        Network, // the network or TLS layer failed
        TimedOut, // no progress within the request's timeout
        Cancelled, // the task was cancelled
        ReplyTooLarge, // the body passed the size limit and the transfer was aborted
        Configuration, // nothing was sent: the request could not be set up
        HttpStatus, // a reply came, with a status outside 2xx
    };

    Kind kind = Kind::Network;
    QString description; // readable, for the user; never holds a secret

    friend bool operator==(const TransportError &, const TransportError &) = default;
};
