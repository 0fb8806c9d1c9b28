// The rates a POSIX line can be set to here, written once: the options
// check a rate against them, the line maps each to its termios code.
#pragma once

// QELSWITCH_BAUD_RATES(X) expands X(rate) for every rate.
#define QELSWITCH_BAUD_RATES(X)                                                                                        \
    X(50)                                                                                                              \
    X(75) X(110) X(134) X(150) X(200) X(300) X(600) X(1200) X(1800) X(2400) X(4800) X(9600) X(19200) X(38400) X(57600) \
        X(115200) X(230400) X(460800) X(500000) X(576000) X(921600) X(1000000) X(1152000) X(1500000) X(2000000)        \
            X(2500000) X(3000000) X(3500000) X(4000000)
