// The touch device may deliver any bytes, in any pieces: the reader must
// only ever set the press flag to 0 or 1, print nothing but position lines,
// and stop cleanly when the stream ends: the flag cleared, the device
// closed.
//
// Input: byte 0 says how many chunk sizes follow (0..15); each of those
// bytes plus one is the size of the next write, used in turn; the rest is
// the byte stream of the device. With no chunk sizes it is written whole.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <string>
#include <unistd.h>

#include "fuzz_support.h"
#include "player_lines.h"
#include "touch.h"

std::atomic<std::int32_t> flag{0}; // defined by the program, not linked here

namespace {

constexpr std::size_t max_chunk_sizes = 16;

// The reader's stdout goes to a memfd for good. Its stderr line is caught by
// pointing the stdio `stderr` (an assignable variable in glibc) at another
// memfd while the reader runs: descriptor 2 stays where libFuzzer and the
// sanitizers report, so an interrupt, hang or fault there is still seen.
struct Captures {
  int out;
  int err;
  FILE *err_file; // writes to `err`
  FILE *real_err; // the stdio stderr of the process
};
Captures captures;

struct Delivery {
  std::size_t chunk_sizes[max_chunk_sizes];
  std::size_t chunk_count;
  const unsigned char *stream;
  std::size_t stream_size;
};

Delivery split_input(const std::uint8_t *data, std::size_t size) {
  Delivery delivery{};
  delivery.stream = data;
  if (size == 0)
    return delivery;
  const std::size_t wanted = data[0] % max_chunk_sizes;
  std::size_t at = 1;
  for (; delivery.chunk_count < wanted && at < size; ++at)
    delivery.chunk_sizes[delivery.chunk_count++] = std::size_t{data[at]} + 1;
  delivery.stream = data + at;
  delivery.stream_size = size - at;
  return delivery;
}

// Records the reader must print for: touches and releases.
std::size_t expected_lines(const Delivery &delivery) {
  std::size_t lines = 0;
  for (std::size_t at = 0; at + sizeof(input_event) <= delivery.stream_size;
       at += sizeof(input_event)) {
    input_event event;
    std::memcpy(&event, delivery.stream + at, sizeof event);
    if (event.type == EV_KEY && event.code == BTN_TOUCH &&
        (event.value == 0 || event.value == 1))
      ++lines;
  }
  return lines;
}

void check_flag() {
  const std::int32_t now = flag.load();
  if (now != 0 && now != 1)
    fail("the press flag left 0 and 1");
}

void deliver(int fd, const Delivery &delivery) {
  std::size_t at = 0;
  for (std::size_t turn = 0; at < delivery.stream_size; ++turn) {
    std::size_t chunk = delivery.stream_size - at;
    if (delivery.chunk_count > 0)
      chunk =
          std::min(chunk, delivery.chunk_sizes[turn % delivery.chunk_count]);
    write_all(fd, delivery.stream + at, chunk);
    at += chunk;
    check_flag();
  }
}

// One reader thread serves every input, as the program's one reader serves
// one device: a thread per input would also grow the sanitizer runtime by a
// little each time, until a long campaign hits its memory limit.
struct ReaderThread {
  sem_t start;
  sem_t done;
};
ReaderThread reader_thread;

void *serve_inputs(void *) {
  for (;;) {
    while (sem_wait(&reader_thread.start) != 0) {
    }
    TouchPosition last;
    read_ts(last);
    sem_post(&reader_thread.done);
  }
}

void start_reader_thread() {
  sem_init(&reader_thread.start, 0, 0);
  sem_init(&reader_thread.done, 0, 0);
  pthread_t reader;
  if (pthread_create(&reader, nullptr, serve_inputs, nullptr) != 0)
    fail("pthread_create");
  pthread_detach(reader);
}

// Runs the reader on the read end of a pipe, its stdio stderr captured.
void start_reader(int read_end) {
  flag = 0;
  fd_ts = read_end;
  reset_memfd(captures.err);
  stderr = captures.err_file;
  sem_post(&reader_thread.start);
}

// Ends the stream and waits for the reader, returning its last words.
std::string end_stream(int write_end) {
  close(write_end);
  while (sem_wait(&reader_thread.done) != 0) {
  }
  stderr = captures.real_err;
  return memfd_contents(captures.err);
}

bool is_position_line(const std::string &line) {
  int x = 0, y = 0;
  if (std::sscanf(line.c_str(), position_line_format, &x, &y) != 2)
    return false;
  return line == player_lines::position_line(x, y);
}

void check_output(const std::string &out, std::size_t lines_wanted) {
  std::size_t lines = 0;
  for (std::size_t begin = 0; begin < out.size(); ++lines) {
    const std::size_t end = out.find('\n', begin);
    if (end == std::string::npos)
      fail("an unfinished line on stdout");
    if (!is_position_line(out.substr(begin, end + 1 - begin)))
      fail("stdout holds something other than position lines");
    begin = end + 1;
  }
  if (lines != lines_wanted)
    fail("not one position line per touch and release");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  captures.out = make_memfd("fuzz-touch-stdout");
  captures.err = make_memfd("fuzz-touch-stderr");
  if (dup2(captures.out, STDOUT_FILENO) == -1)
    fail("cannot capture stdout");
  captures.err_file = fdopen(dup(captures.err), "w");
  if (captures.err_file == nullptr)
    fail("cannot open the stderr capture");
  std::setvbuf(captures.err_file, nullptr, _IONBF, 0);
  captures.real_err = stderr;
  start_reader_thread();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const Delivery delivery = split_input(data, size);
  std::fflush(stdout);
  reset_memfd(captures.out);
  int ends[2];
  if (pipe(ends) != 0)
    fail("pipe");
  start_reader(ends[0]);
  deliver(ends[1], delivery);
  const std::string err = end_stream(ends[1]);
  if (fd_ts != -1 || fcntl(ends[0], F_GETFD) != -1)
    fail("the reader did not close the device it lost");

  check_flag();
  if (flag.load() != 0)
    fail("the flag is still set after the device ended");
  if (err != std::string(read_error_text) + ": No such device\n")
    fail("the reader did not end with its one error line");
  std::fflush(stdout);
  check_output(memfd_contents(captures.out), expected_lines(delivery));
  return 0;
}
