// The load generator: the same clients for the plug-in and for the plain
// servers. It runs in a child process of its own (ChildProcess), so the
// server process's CPU time and descriptors are the server's alone.
//
// Started as `PROGRAM --generator KIND ARGS...`; it answers its parent in
// lines on standard output and takes commands on standard input:
//   tcp-stream PORT TOTAL WARMUP   one connection: sends the first WARMUP
//       bytes of the pattern stream, "ready"; on "go" the rest up to TOTAL
//       bytes in 64 KiB sends, closes, "done".
//   tcp-lines PORT TOTAL WARMUP   as tcp-stream, with the stream of
//       64-byte lines (LinePattern).
//   tcp-messages PORT CLIENTS MESSAGES SIZE THREADS [lines]   CLIENTS
//       connections (no Nagle delay), each sends one SIZE-byte message of
//       its tag byte (client index + 1; with "lines" a byte other than LF,
//       and the message ends with LF), "ready"; on "go" each sends
//       MESSAGES - 1 more, spread over THREADS threads, closes, "done".
//   udp PORT COUNT SIZE RATE   "ready"; on "go" sends COUNT datagrams of
//       SIZE bytes at RATE per second (0: as fast as it can), "done SENT SECONDS".
//   idle PORT   then commands: "connect N" opens N more connections that
//       each send one byte ("ready TOTAL"); "check-closed SECONDS" waits for
//       the server to close them ("closed COUNT"); "quit".
// Failures answer "failed REASON" and exit 1. The generator ends when its
// input closes, and lives at most ten minutes.
#pragma once

namespace bench {

// True when this process was started as a load generator.
bool IsGeneratorCall(int argc, char** argv);
int RunLoadGenerator(int argc, char** argv);

}  // namespace bench
