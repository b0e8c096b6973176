// The screen file: read back, named by frame, and handed to ffmpeg for
// pictures and recordings (raw bgr0 words are exactly the screen's layout).
#include "rig.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "byte_io.h"
#include "frame_pattern.h"

extern char **environ;

namespace {

using frame_pattern::screen_bytes;

std::string layer_name(int content) {
  if (content == frame_pattern::blank)
    return "blank";
  if (content == frame_pattern::unknown)
    return "unknown";
  return std::to_string(content);
}

// Starts ffmpeg reading raw screens from a pipe, with `dir_fd` as its
// working directory: the output directory may lie under a path that the
// board's mounts hide.
pid_t spawn_ffmpeg(const std::vector<std::string> &output_args, int fps,
                   int dir_fd, int &input_fd) {
  const std::string size =
      std::to_string(lcd_width) + "x" + std::to_string(lcd_height);
  std::vector<std::string> args = {
      "ffmpeg", "-hide_banner", "-loglevel",         "error", "-nostats",
      "-f",     "rawvideo",     "-pix_fmt",          "bgr0",  "-video_size",
      size,     "-framerate",   std::to_string(fps), "-i",    "pipe:0"};
  args.insert(args.end(), output_args.begin(), output_args.end());
  std::vector<char *> argv;
  for (auto &arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) == -1)
    return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
  posix_spawn_file_actions_addfchdir_np(&actions, dir_fd);
  pid_t pid = -1;
  const int error =
      posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[0]);
  if (error != 0) {
    close(fds[1]);
    std::fprintf(stderr, "board-rig: cannot run ffmpeg: %s\n",
                 std::strerror(error));
    return -1;
  }
  input_fd = fds[1];
  return pid;
}

bool encoder_succeeded(pid_t pid, const std::string &what) {
  int status = 0;
  byte_io::retry_interrupted([&] { return waitpid(pid, &status, 0); });
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    return true;
  std::fprintf(stderr, "board-rig: ffmpeg failed to write %s (%s)\n",
               what.c_str(), describe_end(status).c_str());
  return false;
}

std::vector<std::string> recording_args(const std::string &name) {
  std::vector<std::string> args;
  const auto dot = name.rfind('.');
  const std::string kind = dot == std::string::npos ? "" : name.substr(dot);
  if (kind == ".gif")
    args.insert(args.end(), {"-vf",
                             "split[a][b];[a]palettegen=stats_mode=diff[p];"
                             "[b][p]paletteuse=dither=bayer",
                             "-loop", "0"});
  else if (kind == ".mp4")
    args.insert(args.end(), {"-c:v", "libx264", "-preset", "veryfast",
                             "-pix_fmt", "yuv420p", "-movflags", "+faststart"});
  args.insert(args.end(), {"-y", name});
  return args;
}

// Samples the screen at a fixed rate. When the rig falls behind, the last
// sample is repeated so that the recording keeps the run's real timing.
void sample_screen(Recorder &recorder, int screen_fd, int fps) {
  using clock = std::chrono::steady_clock;
  const auto period = std::chrono::microseconds(1000000 / fps);
  Screen screen;
  auto next = clock::now();
  while (!recorder.stop) {
    if (!read_screen(screen_fd, screen))
      return;
    do {
      if (!byte_io::write_all(recorder.pipe_fd, screen.data(), screen_bytes))
        return;
      next += period;
    } while (clock::now() >= next);
    std::this_thread::sleep_until(next);
  }
}

} // namespace

bool read_screen(int screen_fd, Screen &screen) {
  screen.resize(frame_pattern::screen_pixel_count);
  return byte_io::pread_all(screen_fd, screen.data(), screen_bytes, 0) ==
         static_cast<ssize_t>(screen_bytes);
}

std::string screen_layers(const Screen &screen) {
  const auto layers = frame_pattern::read_layers(screen.data());
  return layer_name(layers.top) + " " + std::to_string(layers.top_rows) + " " +
         layer_name(layers.below);
}

bool save_png(const Screen &screen, int dir_fd, const std::string &name) {
  const std::string file =
      name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0
          ? name
          : name + ".png";
  int input_fd = -1;
  const pid_t encoder =
      spawn_ffmpeg({"-frames:v", "1", "-y", file}, 1, dir_fd, input_fd);
  if (encoder == -1)
    return false;
  const bool sent = byte_io::write_all(input_fd, screen.data(), screen_bytes);
  close(input_fd);
  return encoder_succeeded(encoder, file) && sent;
}

bool start_recording(Recorder &recorder, int screen_fd, int dir_fd,
                     const std::string &name, int fps) {
  recorder.encoder =
      spawn_ffmpeg(recording_args(name), fps, dir_fd, recorder.pipe_fd);
  if (recorder.encoder == -1)
    return false;
  recorder.sampler =
      std::thread(sample_screen, std::ref(recorder), screen_fd, fps);
  return true;
}

bool finish_recording(Recorder &recorder) {
  if (recorder.encoder == -1)
    return true;
  recorder.stop = true;
  recorder.sampler.join();
  close(recorder.pipe_fd);
  return encoder_succeeded(recorder.encoder, "the recording");
}
