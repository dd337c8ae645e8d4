// Live recording over FFmpeg (libavformat, libavcodec, libswscale,
// libswresample).
//
// Design: Start opens the container, the video encoder (H.264 through
// libx264 when this FFmpeg has it, else MPEG-4 part 2, else MJPEG) and the
// optional sound file on the caller's thread, so every configuration error
// is reported at once. The frame loop then only moves pixel vectors into a
// bounded queue; one worker thread converts them to YUV, encodes them and
// writes the packets, together with the sound file's samples up to each
// frame's time (looping, AAC). A full queue drops the frame and counts it
// (or waits, for offline runs). A write error (a full disk) stops the
// encoding and is kept for the owner to report; Stop always flushes the
// encoders and writes the trailer so the file stays playable.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "app/core/core.h"
#include "media/encode.h"

namespace media {
namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (core::AsciiLower(text[text.size() - n + i]) != suffix[i]) return false;
  return true;
}

constexpr int kAudioRate = 44100;

}  // namespace

struct Recorder::State {
  RecorderOptions options;
  std::string codec;
  // FFmpeg objects: touched by Start, then only by the worker, then Stop.
  AVFormatContext* output = nullptr;
  AVCodecContext* video = nullptr;
  AVStream* video_stream = nullptr;
  SwsContext* scaler = nullptr;
  AVFrame* picture = nullptr;
  AVPacket* packet = nullptr;
  int64_t last_pts = -1;
  uint32_t encoded_width = 0, encoded_height = 0;
  // Sound beside the picture.
  AVFormatContext* audio_input = nullptr;
  AVCodecContext* audio_decoder = nullptr;
  int audio_index = -1;
  AVCodecContext* audio = nullptr;
  AVStream* audio_stream = nullptr;
  SwrContext* resampler = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVFrame* decoded = nullptr;
  AVFrame* audio_frame = nullptr;
  int64_t audio_samples = 0;  // written so far
  int64_t skip_samples = 0;   // of the file, before the first written one
  bool audio_failed = false;

  // Shared with the worker.
  mutable std::mutex mutex;
  std::condition_variable wake, room;
  struct Frame {
    std::vector<uint32_t> pixels;
    double seconds;
  };
  std::deque<Frame> queue;
  bool stopping = false;
  bool running = false;
  bool failed = false;
  std::string error;
  bool error_taken = false;
  uint64_t written = 0, dropped = 0;
  double last_seconds = 0.0;
  std::thread worker;

  // --- the worker's side ----------------------------------------------------
  void Fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!failed) {
      failed = true;
      error = why;
    }
  }
  bool Failed() const {
    std::lock_guard<std::mutex> lock(mutex);
    return failed;
  }

  int WritePackets(AVCodecContext* context, AVStream* stream) {
    for (;;) {
      int result = avcodec_receive_packet(context, packet);
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
      if (result < 0) {
        Fail("encoding failed: " + AvError(result));
        return -1;
      }
      av_packet_rescale_ts(packet, context->time_base, stream->time_base);
      packet->stream_index = stream->index;
      result = av_interleaved_write_frame(output, packet);
      av_packet_unref(packet);
      // The muxer writes through a buffer whose errors (a full disk) stick
      // to it instead of coming back from the write.
      if (result >= 0 && output->pb && output->pb->error < 0) result = output->pb->error;
      if (result < 0) {
        Fail("cannot write " + options.path + ": " + AvError(result));
        return -1;
      }
    }
  }

  // Decodes the sound file into the FIFO until it holds `wanted` samples,
  // starting over at its end.
  int FillAudio(int wanted) {
    int rewinds = 0;
    while (av_audio_fifo_size(fifo) < wanted) {
      int result = av_read_frame(audio_input, packet);
      if (result == AVERROR_EOF) {
        if (++rewinds > 2) return -1;  // a file without any sound
        avformat_seek_file(audio_input, audio_index, INT64_MIN, 0, 0, 0);
        avcodec_flush_buffers(audio_decoder);
        continue;
      }
      if (result < 0) return -1;
      if (packet->stream_index != audio_index) {
        av_packet_unref(packet);
        continue;
      }
      result = avcodec_send_packet(audio_decoder, packet);
      av_packet_unref(packet);
      if (result < 0 && result != AVERROR(EAGAIN)) continue;  // a damaged packet is skipped
      while (avcodec_receive_frame(audio_decoder, decoded) == 0) {
        const int out_count = swr_get_out_samples(resampler, decoded->nb_samples);
        uint8_t* out[1] = {nullptr};
        if (av_samples_alloc(out, nullptr, 1, out_count, AV_SAMPLE_FMT_FLTP, 0) < 0) return -1;
        int got = swr_convert(resampler, out, out_count, const_cast<const uint8_t**>(decoded->extended_data),
                              decoded->nb_samples);
        int offset = 0;
        if (got > 0 && skip_samples > 0) {
          const int skip = static_cast<int>(std::min<int64_t>(skip_samples, got));
          skip_samples -= skip;
          offset = skip;
        }
        if (got > offset) {
          uint8_t* from[1] = {out[0] + offset * sizeof(float)};
          av_audio_fifo_write(fifo, reinterpret_cast<void**>(from), got - offset);
        }
        av_freep(&out[0]);
        av_frame_unref(decoded);
      }
    }
    return 0;
  }

  // Sound up to `seconds` of the recording.
  void WriteAudioUpTo(double seconds) {
    if (!audio || audio_failed) return;
    const int frame_size = audio->frame_size > 0 ? audio->frame_size : 1024;
    const int64_t until = static_cast<int64_t>(seconds * kAudioRate);
    while (audio_samples + frame_size <= until) {
      if (FillAudio(frame_size) != 0) {
        audio_failed = true;
        core::Trace("MEDIA: the sound file %s stopped giving samples; the recording goes on without\n",
                    options.audio_file.c_str());
        return;
      }
      av_frame_unref(audio_frame);
      audio_frame->nb_samples = frame_size;
      audio_frame->format = AV_SAMPLE_FMT_FLTP;
      audio_frame->sample_rate = kAudioRate;
      av_channel_layout_copy(&audio_frame->ch_layout, &audio->ch_layout);
      if (av_frame_get_buffer(audio_frame, 0) < 0) return;
      av_audio_fifo_read(fifo, reinterpret_cast<void**>(audio_frame->data), frame_size);
      audio_frame->pts = audio_samples;
      audio_samples += frame_size;
      if (avcodec_send_frame(audio, audio_frame) < 0 || WritePackets(audio, audio_stream) != 0) return;
    }
  }

  void EncodeFrame(const Frame& frame) {
    if (av_frame_make_writable(picture) < 0) {
      Fail("out of memory for a frame");
      return;
    }
    const uint8_t* source[1] = {reinterpret_cast<const uint8_t*>(frame.pixels.data())};
    const int stride[1] = {static_cast<int>(options.width * 4)};
    sws_scale(scaler, source, stride, 0, static_cast<int>(options.height), picture->data, picture->linesize);
    int64_t pts = std::llround(frame.seconds * 1000.0);
    if (pts <= last_pts) pts = last_pts + 1;
    last_pts = pts;
    picture->pts = pts;
    if (avcodec_send_frame(video, picture) < 0) {
      Fail("encoding failed");
      return;
    }
    if (WritePackets(video, video_stream) != 0) return;
    WriteAudioUpTo(frame.seconds);
    std::lock_guard<std::mutex> lock(mutex);
    ++written;
    last_seconds = frame.seconds;
  }

  void Run() {
    // The show comes first: the encoder takes what the renderer leaves, and
    // a full queue drops frames rather than slowing the frame loop.
    core::LowerThisThreadsPriority();
    for (;;) {
      Frame frame;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return stopping || !queue.empty(); });
        if (queue.empty()) break;  // stopping, and nothing left
        frame = std::move(queue.front());
        queue.pop_front();
      }
      room.notify_all();
      if (!Failed()) EncodeFrame(frame);
    }
  }

  // --- set-up and tear-down (caller's thread) ---------------------------------
  int OpenAudio(std::string* why) {
    if (avformat_open_input(&audio_input, options.audio_file.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(audio_input, nullptr) < 0) {
      *why = "cannot read the sound file " + options.audio_file;
      return -1;
    }
    const AVCodec* decoder = nullptr;
    audio_index = av_find_best_stream(audio_input, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (audio_index < 0 || !decoder) {
      *why = "no sound in " + options.audio_file;
      return -1;
    }
    audio_decoder = avcodec_alloc_context3(decoder);
    if (!audio_decoder ||
        avcodec_parameters_to_context(audio_decoder, audio_input->streams[audio_index]->codecpar) < 0 ||
        avcodec_open2(audio_decoder, decoder, nullptr) < 0) {
      *why = "cannot decode " + options.audio_file;
      return -1;
    }
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!encoder) {
      *why = "no AAC encoder";
      return -1;
    }
    audio = avcodec_alloc_context3(encoder);
    audio_stream = avformat_new_stream(output, nullptr);
    if (!audio || !audio_stream) {
      *why = "out of memory";
      return -1;
    }
    audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio->sample_rate = kAudioRate;
    av_channel_layout_default(&audio->ch_layout, 1);
    audio->bit_rate = 128000;
    audio->time_base = AVRational{1, kAudioRate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(audio, encoder, nullptr) < 0 || avcodec_parameters_from_context(audio_stream->codecpar, audio) < 0) {
      *why = "cannot open the AAC encoder";
      return -1;
    }
    audio_stream->time_base = audio->time_base;
    if (swr_alloc_set_opts2(&resampler, &audio->ch_layout, AV_SAMPLE_FMT_FLTP, kAudioRate, &audio_decoder->ch_layout,
                            audio_decoder->sample_fmt, audio_decoder->sample_rate, 0, nullptr) < 0 ||
        swr_init(resampler) < 0) {
      *why = "cannot convert the sound of " + options.audio_file;
      return -1;
    }
    fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, 4096);
    decoded = av_frame_alloc();
    audio_frame = av_frame_alloc();
    if (!fifo || !decoded || !audio_frame) {
      *why = "out of memory";
      return -1;
    }
    return 0;
  }

  int Open(std::string* why) {
    if (!EndsWith(options.path, ".mkv") && !EndsWith(options.path, ".mp4")) {
      *why = "a recording is a .mkv or .mp4 file: " + options.path;
      return -1;
    }
    if (options.width < 16 || options.height < 16) {
      *why = "the picture is too small to record";
      return -1;
    }
    if (avformat_alloc_output_context2(&output, nullptr, nullptr, options.path.c_str()) < 0 || !output) {
      *why = "no container for " + options.path;
      return -1;
    }
    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    if (!encoder) encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!encoder) encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!encoder) {
      *why = "this FFmpeg has no H.264, MPEG-4 or MJPEG encoder";
      return -1;
    }
    codec = encoder->name;
    video = avcodec_alloc_context3(encoder);
    video_stream = avformat_new_stream(output, nullptr);
    if (!video || !video_stream) {
      *why = "out of memory";
      return -1;
    }
    // 4:2:0 wants even sizes: an odd last row or column is left out.
    encoded_width = options.width & ~1u;
    encoded_height = options.height & ~1u;
    const bool mjpeg = encoder->id == AV_CODEC_ID_MJPEG;
    video->width = static_cast<int>(encoded_width);
    video->height = static_cast<int>(encoded_height);
    video->pix_fmt = mjpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    video->time_base = AVRational{1, 1000};
    const double rate = options.frame_rate > 0.0 && std::isfinite(options.frame_rate) ? options.frame_rate : 25.0;
    video->framerate = av_d2q(rate, 100000);
    video->gop_size = std::max(1, static_cast<int>(rate * 2.0));
    video->max_b_frames = 0;
    video->thread_count = 1;  // one core encodes; the other draws
    if (encoder->id == AV_CODEC_ID_MPEG4) video->bit_rate = 8000000;
    if (mjpeg) {
      video->flags |= AV_CODEC_FLAG_QSCALE;
      video->global_quality = FF_QP2LAMBDA * 4;
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* settings = nullptr;
    if (codec == "libx264") {
      av_dict_set(&settings, "preset", "ultrafast", 0);
      av_dict_set(&settings, "crf", "20", 0);
    }
    int result = avcodec_open2(video, encoder, &settings);
    av_dict_free(&settings);
    if (result < 0) {
      *why = "cannot open the " + codec + " encoder: " + AvError(result);
      return -1;
    }
    if (avcodec_parameters_from_context(video_stream->codecpar, video) < 0) {
      *why = "out of memory";
      return -1;
    }
    video_stream->time_base = video->time_base;
    video_stream->avg_frame_rate = video->framerate;
    if (!options.audio_file.empty() && OpenAudio(why) != 0) return -1;
    result = avio_open(&output->pb, options.path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
      *why = "cannot write " + options.path + ": " + AvError(result);
      return -1;
    }
    result = avformat_write_header(output, nullptr);
    if (result < 0) {
      *why = "cannot write " + options.path + ": " + AvError(result);
      return -1;
    }
    scaler = sws_getContext(static_cast<int>(options.width), static_cast<int>(options.height), AV_PIX_FMT_BGR0,
                            video->width, video->height, video->pix_fmt, SWS_POINT, nullptr, nullptr, nullptr);
    picture = av_frame_alloc();
    packet = av_packet_alloc();
    if (!scaler || !picture || !packet) {
      *why = "out of memory";
      return -1;
    }
    picture->format = video->pix_fmt;
    picture->width = video->width;
    picture->height = video->height;
    if (av_frame_get_buffer(picture, 0) < 0) {
      *why = "out of memory";
      return -1;
    }
    return 0;
  }

  // Flushes the encoders and writes the trailer (when the header was
  // written), then frees everything. 0, or -1 when a write failed.
  int Close() {
    int status = 0;
    if (output && output->pb) {
      if (!Failed()) {
        if (video && avcodec_send_frame(video, nullptr) >= 0) WritePackets(video, video_stream);
        if (audio && !audio_failed) {
          WriteAudioUpTo(last_seconds + 1.0 / std::max(1.0, options.frame_rate));
          if (avcodec_send_frame(audio, nullptr) >= 0) WritePackets(audio, audio_stream);
        }
      }
      int result = av_write_trailer(output);
      if (result < 0) Fail("cannot finish " + options.path + ": " + AvError(result));
      if (avio_closep(&output->pb) < 0) Fail("cannot close " + options.path);
    }
    if (Failed()) status = -1;
    sws_freeContext(scaler);
    scaler = nullptr;
    av_frame_free(&picture);
    av_frame_free(&decoded);
    av_frame_free(&audio_frame);
    av_packet_free(&packet);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    avcodec_free_context(&audio_decoder);
    swr_free(&resampler);
    if (fifo) av_audio_fifo_free(fifo);
    fifo = nullptr;
    if (audio_input) avformat_close_input(&audio_input);
    if (output) avformat_free_context(output);
    output = nullptr;
    return status;
  }
};

Recorder::Recorder() : state_(std::make_unique<State>()) {}
Recorder::~Recorder() { Stop(); }

int Recorder::Start(const RecorderOptions& options, std::string* error) {
  Stop();
  // FFmpeg's own notes (encoder statistics) would flood stderr.
  av_log_set_level(AV_LOG_ERROR);
  state_ = std::make_unique<State>();
  State& s = *state_;
  s.options = options;
  if (s.options.queue_frames == 0) s.options.queue_frames = 1;
  std::string why;
  if (s.Open(&why) != 0) {
    s.Close();
    // A half-written file would only confuse: it holds no picture yet.
    std::remove(options.path.c_str());
    if (error) *error = why;
    return -1;
  }
  if (s.audio_input && s.audio_input->duration > 0 && std::isfinite(options.audio_offset_seconds) &&
      options.audio_offset_seconds > 0.0) {
    // The sound input plays the file by the program clock; the recording
    // starts where the input is now.
    const double length = static_cast<double>(s.audio_input->duration) / AV_TIME_BASE;
    s.skip_samples = static_cast<int64_t>(std::fmod(options.audio_offset_seconds, length) * kAudioRate);
  }
  s.running = true;
  if (core::StartThread(&s.worker, [state = &s] { state->Run(); }) != 0) {
    s.running = false;
    s.Close();
    if (error) *error = "cannot start the recording thread";
    return -1;
  }
  return 0;
}

bool Recorder::recording() const { return state_->running; }

bool Recorder::Push(std::vector<uint32_t> pixels, double seconds) {
  State& s = *state_;
  if (!s.running) return false;
  std::unique_lock<std::mutex> lock(s.mutex);
  if (s.failed || pixels.size() != size_t{s.options.width} * s.options.height) {
    ++s.dropped;
    return false;
  }
  if (s.queue.size() >= s.options.queue_frames) {
    if (!s.options.wait_when_full) {
      ++s.dropped;
      return false;
    }
    s.room.wait(lock, [&] { return s.queue.size() < s.options.queue_frames || s.failed; });
    if (s.failed) {
      ++s.dropped;
      return false;
    }
  }
  s.queue.push_back({std::move(pixels), seconds});
  lock.unlock();
  s.wake.notify_one();
  return true;
}

bool Recorder::HasRoom() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->running && !state_->failed && state_->queue.size() < state_->options.queue_frames;
}

void Recorder::CountDropped() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  ++state_->dropped;
}

int Recorder::Stop() {
  State& s = *state_;
  if (!s.running) return 0;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stopping = true;
  }
  s.wake.notify_all();
  if (s.worker.joinable()) s.worker.join();
  s.running = false;
  return s.Close();
}

uint64_t Recorder::frames_written() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->written;
}
uint64_t Recorder::frames_dropped() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->dropped;
}
bool Recorder::failed() const { return state_->Failed(); }
std::string Recorder::codec_name() const { return state_->codec; }
const std::string& Recorder::path() const { return state_->options.path; }

std::string Recorder::TakeError() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->failed || state_->error_taken) return "";
  state_->error_taken = true;
  return state_->error;
}

}  // namespace media
