// Video frames by number through FFmpeg.
//
// Design. The file is opened as "file:" + disk path with only the file
// protocol allowed; its format is probed first and playlist and image
// sequence demuxers (which open further files or URLs) are refused. The
// frame grid is rate = avg_frame_rate (else r_frame_rate, else 25) and
// count = nb_frames (else duration x rate). A decoded picture with
// timestamp ts covers the grid frames from ceil((ts - start) x rate) on, so
// frame n is the last picture due at or before n / rate: decoding keeps the
// picture of frame n ("held") and one picture ahead of it, which shows
// where frame n ends (B-frames, variable rates and gaps come out right).
// Frames passed on the way are decoded, never converted. Conversion goes
// through one cached swscale context to BGRA at the output size; full-range
// ("yuvj") formats are mapped to their plain ones with the range set, and
// the matrix comes from the frame (unspecified: BT.601 under 720 lines,
// else BT.709). Nothing here raises messages while playing: faults are
// collected as notices for the caller, because decoding runs on a worker.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "media/media.h"

namespace media {
namespace {

constexpr double kDefaultRate = 25.0;
// A picture a little after a grid time (timestamps rounded to the time
// base) still counts for that grid frame.
constexpr double kSlotTolerance = 0.1;
constexpr int kProbeBytes = 1 << 20;

// Demuxers that open other files or URLs named inside the file.
bool RefusedDemuxer(const AVInputFormat* format) {
  if (!format) return true;
  if (format->flags & AVFMT_NOFILE) return true;
  static const char* const kRefused[] = {"hls", "applehttp", "concat", "image2", "dash", "ffmetadata"};
  std::string names = format->name ? format->name : "";
  size_t start = 0;
  while (start <= names.size()) {
    size_t comma = names.find(',', start);
    std::string one = names.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    for (const char* refused : kRefused)
      if (one == refused) return true;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return false;
}

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

// Full-range formats as their plain ones.
AVPixelFormat PlainFormat(AVPixelFormat format, bool* full_range) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P: *full_range = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *full_range = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *full_range = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *full_range = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: *full_range = true; return AV_PIX_FMT_YUV411P;
    default: return format;
  }
}

int Matrix(AVColorSpace space, int height) {
  switch (space) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    default: return height < 720 ? SWS_CS_ITU601 : SWS_CS_ITU709;
  }
}

void LogToTrace(void* object, int level, const char* format, va_list args) {
  if (level > AV_LOG_WARNING) return;
  char line[1024];
  int prefix = 1;
  va_list copy;
  va_copy(copy, args);
  av_log_format_line2(object, level, format, copy, line, sizeof(line), &prefix);
  va_end(copy);
  core::Trace("FFMPEG: %s%s", line, line[0] && line[std::strlen(line) - 1] == '\n' ? "" : "\n");
}

}  // namespace

void InstallVideoLog() { av_log_set_callback(LogToTrace); }
void RemoveVideoLog() { av_log_set_callback(av_log_default_callback); }

int64_t VideoFrameAt(double elapsed, double rate, int64_t count) {
  if (!std::isfinite(elapsed) || !(rate > 0.0) || count <= 0) return 0;
  const double duration = static_cast<double>(count) / rate;
  double t = std::fmod(elapsed, duration);
  if (t < 0.0) t += duration;
  if (t >= duration) t = 0.0;  // -tiny + duration rounds up to it
  const double n = std::floor(t * rate + 0.001);
  if (!(n >= 0.0)) return 0;
  return std::min(static_cast<int64_t>(n), count - 1);
}

int DecodeFrameAt(VideoFrameSource* source, int64_t n, Image* picture) {
  if (!source || n < 0 || n >= source->FrameCount()) return -1;
  const int64_t position = source->NextFrame();
  if (n < position || source->KeyframeBefore(n) > position) {
    if (source->SeekBefore(n) != 0) return -1;
  }
  while (source->NextFrame() < n)
    source->DecodeNext(nullptr);  // a frame that fails on the way is not the one asked for
  if (source->NextFrame() != n) return -1;
  return source->DecodeNext(picture);
}

struct AviVideo::State {
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* held = nullptr;   // the picture of the last frame given
  AVFrame* ahead = nullptr;  // the next picture
  SwsContext* sws = nullptr;
  int stream = -1;
  AVRational time_base{1, 1};
  int64_t start = 0;  // in time-base units
  double rate = kDefaultRate;
  int64_t count = 0;
  uint32_t source_width = 0, source_height = 0;
  uint32_t width = 0, height = 0;
  std::vector<int64_t> keyframes;  // grid frames, ascending

  int64_t next_frame = 0;
  int64_t held_slot = -1, ahead_slot = -1;
  bool have_held = false, have_ahead = false;
  bool draining = false, ended = false;
  bool decode_error = false;  // since the last DecodeNext, frame unknown
  std::vector<int64_t> failed;  // frames whose packets failed to decode

  int sws_matrix = -1, sws_full = -1;  // what the context was set to
  std::string shown;                   // the file as messages name it
  std::string notice;
  bool reported_end = false, reported_error = false;

  ~State() {
    sws_freeContext(sws);
    av_frame_free(&held);
    av_frame_free(&ahead);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);  // leaves our own I/O context open
    avio_closep(&io);
  }

  void Note(const std::string& text) {
    if (!notice.empty()) notice += "\n";
    notice += text;
  }

  int64_t SlotOf(int64_t ts) const {
    const double x = static_cast<double>(ts - start) * av_q2d(time_base) * rate;
    return static_cast<int64_t>(std::ceil(x - kSlotTolerance));
  }
  int64_t Slot(const AVFrame* frame) const {
    const int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) return (have_held ? held_slot : -1) + 1;
    return SlotOf(ts);
  }

  // 1 with a picture in `into`, 0 at the end of the stream.
  int ReadPicture(AVFrame* into) {
    for (;;) {
      int got = avcodec_receive_frame(codec, into);
      if (got == 0) return 1;
      if (got == AVERROR_EOF) return 0;
      if (got != AVERROR(EAGAIN)) {
        decode_error = true;
        if (draining) return 0;
        continue;
      }
      if (draining) return 0;
      int read = av_read_frame(format, packet);
      if (read < 0) {
        draining = true;
        avcodec_send_packet(codec, nullptr);
        continue;
      }
      if (packet->stream_index != stream) {
        av_packet_unref(packet);
        continue;
      }
      const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      int sent = avcodec_send_packet(codec, packet);
      av_packet_unref(packet);
      if (sent < 0 && sent != AVERROR(EAGAIN)) {
        // The frame the packet was for fails, not the one being read ahead.
        if (ts != AV_NOPTS_VALUE) failed.push_back(SlotOf(ts));
        else decode_error = true;
      }
    }
  }

  void ResetDecoder() {
    avcodec_flush_buffers(codec);
    av_frame_unref(held);
    av_frame_unref(ahead);
    have_held = have_ahead = false;
    held_slot = ahead_slot = -1;
    draining = ended = false;
    failed.clear();
  }

  // Fills `ahead` unless it is full or the stream has ended.
  void FillAhead() {
    if (have_ahead || ended) return;
    if (ReadPicture(ahead) == 1) {
      have_ahead = true;
      ahead_slot = Slot(ahead);
    } else {
      ended = true;
    }
  }

  int Convert(const AVFrame* frame, Image* picture) {
    if (!picture || !picture->valid || picture->width != width || picture->height != height ||
        picture->format != PF_XRGB32)
      return -1;
    bool full = frame->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat source_format = PlainFormat(static_cast<AVPixelFormat>(frame->format), &full);
    sws = sws_getCachedContext(sws, frame->width, frame->height, source_format, static_cast<int>(width),
                               static_cast<int>(height), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                               nullptr);
    if (!sws) return -1;
    const int matrix = Matrix(frame->colorspace, frame->height);
    if (matrix != sws_matrix || static_cast<int>(full) != sws_full) {
      const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(source_format);
      if (descriptor && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB))
        sws_setColorspaceDetails(sws, sws_getCoefficients(matrix), full ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT),
                                 1, 0, 1 << 16, 1 << 16);
      sws_matrix = matrix;
      sws_full = full ? 1 : 0;
    }
    uint8_t* destination[4] = {picture->pixels, nullptr, nullptr, nullptr};
    int strides[4] = {picture->pitch, 0, 0, 0};
    return sws_scale(sws, frame->data, frame->linesize, 0, frame->height, destination, strides) > 0 ? 0 : -1;
  }
};

AviVideo::AviVideo() = default;
AviVideo::~AviVideo() = default;

void AviVideo::Close() { state_.reset(); }
bool AviVideo::IsOpen() const { return state_ != nullptr; }

int AviVideo::Open(const char* path) {
  Close();
  std::string disk;
  const char* shown = path ? path : "";
  if (!path || !core::ResolvePath(path, &disk) || !core::FileExists(path)) {
    core::Trace("VIDEO: %s not found\n", shown);
    core::ShowError("AVIStreamOpenFromFile failed for %s: pcFile", shown);
    return -1;
  }
  std::string error;
  if (OpenDisk(disk, shown, &error) != 0) {
    core::ShowError("%s", error.c_str());
    return -1;
  }
  return 0;
}

int AviVideo::OpenDisk(const std::string& disk_path, const char* shown, std::string* error) {
  Close();
  auto fail = [&](const std::string& message, const std::string& reason) {
    core::Trace("VIDEO: %s: %s\n", disk_path.c_str(), reason.c_str());
    if (error) *error = message;
    state_.reset();
    return -1;
  };
  const std::string name = shown ? shown : disk_path;
  const std::string open_failed = core::FormatString("AVIStreamOpenFromFile failed for %s: pcFile", name.c_str());
  const std::string no_decoder =
      core::FormatString("AVIStreamGetFrameOpen failed in 24 and 8 bits for %s: pcFile", name.c_str());
  const std::string no_length = core::FormatString("AVIStreamLength failed for %s: pcFile", name.c_str());

  state_.reset(new (std::nothrow) State);
  if (!state_) return fail(open_failed, "out of memory");
  State& s = *state_;
  s.shown = name;
  const std::string url = "file:" + disk_path;

  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  int result = avio_open2(&s.io, url.c_str(), AVIO_FLAG_READ, nullptr, &options);
  av_dict_free(&options);
  if (result < 0) return fail(open_failed, AvError(result));
  const AVInputFormat* input = nullptr;
  result = av_probe_input_buffer2(s.io, &input, url.c_str(), nullptr, 0, kProbeBytes);
  if (result < 0) return fail(open_failed, "not a video file: " + AvError(result));
  if (RefusedDemuxer(input))
    return fail(open_failed, core::FormatString("%s files are not played (they name other files)", input->name));

  s.format = avformat_alloc_context();
  if (!s.format) return fail(open_failed, "out of memory");
  s.format->pb = s.io;
  s.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  result = avformat_open_input(&s.format, url.c_str(), input, &options);
  av_dict_free(&options);
  if (result < 0) return fail(open_failed, AvError(result));  // the context is freed on failure
  result = avformat_find_stream_info(s.format, nullptr);
  if (result < 0) return fail(open_failed, AvError(result));

  for (unsigned i = 0; i < s.format->nb_streams; ++i) {
    const AVStream* stream = s.format->streams[i];
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      s.stream = static_cast<int>(i);
      break;
    }
  }
  if (s.stream < 0) return fail(open_failed, "no video stream");
  AVStream* stream = s.format->streams[s.stream];
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!decoder) return fail(no_decoder, core::FormatString("no decoder for %s", avcodec_get_name(stream->codecpar->codec_id)));
  s.codec = avcodec_alloc_context3(decoder);
  if (!s.codec || avcodec_parameters_to_context(s.codec, stream->codecpar) < 0) return fail(no_decoder, "decoder set-up");
  s.codec->thread_count = 1;
  result = avcodec_open2(s.codec, decoder, nullptr);
  if (result < 0) return fail(no_decoder, AvError(result));
  s.packet = av_packet_alloc();
  s.held = av_frame_alloc();
  s.ahead = av_frame_alloc();
  if (!s.packet || !s.held || !s.ahead) return fail(open_failed, "out of memory");

  s.time_base = stream->time_base;
  s.start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
  AVRational rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) {
    s.rate = av_q2d(rate);
  } else {
    s.rate = kDefaultRate;
    core::Trace("VIDEO: %s has no frame rate; playing at %g frames per second\n", name.c_str(), kDefaultRate);
  }
  double duration = 0.0;
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
    duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
  else if (s.format->duration != AV_NOPTS_VALUE && s.format->duration > 0)
    duration = static_cast<double>(s.format->duration) / AV_TIME_BASE;
  s.count = stream->nb_frames > 0 ? stream->nb_frames : static_cast<int64_t>(std::llround(duration * s.rate));
  if (s.count <= 0 || !std::isfinite(s.rate)) return fail(no_length, "no frames");

  for (int i = 0, n = avformat_index_get_entries_count(stream); i < n; ++i) {
    const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
    if (!entry || !(entry->flags & AVINDEX_KEYFRAME) || entry->timestamp == AV_NOPTS_VALUE) continue;
    const double x = static_cast<double>(entry->timestamp - s.start) * av_q2d(s.time_base) * s.rate;
    s.keyframes.push_back(std::max<int64_t>(0, static_cast<int64_t>(std::ceil(x - kSlotTolerance))));
  }
  std::sort(s.keyframes.begin(), s.keyframes.end());

  // The first picture tells the size and pixel format for sure.
  s.FillAhead();
  if (!s.have_ahead) return fail(no_decoder, "no picture decodes");
  const AVPixelFormat first_format = static_cast<AVPixelFormat>(s.ahead->format);
  bool full = false;
  if (!sws_isSupportedInput(PlainFormat(first_format, &full))) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(first_format);
    const int bits = descriptor ? av_get_bits_per_pixel(descriptor) : 0;
    return fail(core::FormatString("Codec is returning %i bpp bitmap. Can't handle that", bits),
                core::FormatString("pixel format %s", descriptor ? descriptor->name : "?"));
  }
  if (s.ahead->width <= 0 || s.ahead->height <= 0) return fail(no_decoder, "empty pictures");
  s.source_width = s.width = static_cast<uint32_t>(s.ahead->width);
  s.source_height = s.height = static_cast<uint32_t>(s.ahead->height);
  s.next_frame = 0;
  s.decode_error = false;
  core::Trace("VIDEO: %s: %s %ux%u %s, %lld frames at %.3f per second\n", name.c_str(), decoder->name, s.width,
              s.height, av_get_pix_fmt_name(first_format), static_cast<long long>(s.count), s.rate);
  return 0;
}

void AviVideo::LimitSize(uint32_t max_width, uint32_t max_height) {
  if (!state_ || max_width == 0 || max_height == 0) return;
  State& s = *state_;
  s.width = s.source_width;
  s.height = s.source_height;
  if (s.width <= max_width && s.height <= max_height) return;
  const double scale = std::min(static_cast<double>(max_width) / s.width, static_cast<double>(max_height) / s.height);
  s.width = std::clamp<uint32_t>(static_cast<uint32_t>(s.width * scale), 1, max_width);
  s.height = std::clamp<uint32_t>(static_cast<uint32_t>(s.height * scale), 1, max_height);
  core::Trace("VIDEO: %s is scaled to %ux%u\n", s.shown.c_str(), s.width, s.height);
}

double AviVideo::Duration() const { return state_ ? static_cast<double>(state_->count) / state_->rate : 0.0; }
int64_t AviVideo::TimeToFrame(double seconds) const {
  return state_ ? VideoFrameAt(seconds, state_->rate, state_->count) : 0;
}
uint32_t AviVideo::SourceWidth() const { return state_ ? state_->source_width : 0; }
uint32_t AviVideo::SourceHeight() const { return state_ ? state_->source_height : 0; }
uint32_t AviVideo::Width() const { return state_ ? state_->width : 0; }
uint32_t AviVideo::Height() const { return state_ ? state_->height : 0; }
int64_t AviVideo::FrameCount() const { return state_ ? state_->count : 0; }
double AviVideo::FrameRate() const { return state_ ? state_->rate : kDefaultRate; }
int64_t AviVideo::NextFrame() const { return state_ ? state_->next_frame : 0; }

int64_t AviVideo::KeyframeBefore(int64_t n) {
  if (!state_ || state_->keyframes.empty()) return 0;
  const std::vector<int64_t>& keys = state_->keyframes;
  auto it = std::upper_bound(keys.begin(), keys.end(), n);
  return it == keys.begin() ? 0 : *(it - 1);
}

int AviVideo::SeekBefore(int64_t n) {
  if (!state_) return -1;
  State& s = *state_;
  n = std::clamp<int64_t>(n, 0, s.count - 1);
  const double units_per_frame = 1.0 / (s.rate * av_q2d(s.time_base));
  const int64_t target = s.start + static_cast<int64_t>(std::floor(static_cast<double>(n) * units_per_frame));
  // A seek may land after the frame (an index of decode times, B-frames):
  // step back further until the first picture is not after it.
  int64_t back = 0;
  for (int attempt = 0; attempt < 8; ++attempt) {
    int64_t ts = target - back;
    const bool at_start = ts <= s.start || attempt == 7;
    if (at_start) ts = s.start;
    int result = av_seek_frame(s.format, s.stream, ts, AVSEEK_FLAG_BACKWARD);
    if (result < 0 && at_start) result = avformat_seek_file(s.format, s.stream, INT64_MIN, ts, ts, 0);
    if (result < 0) {
      core::Trace("VIDEO: %s: seek to frame %lld failed: %s\n", s.shown.c_str(), static_cast<long long>(n),
                  AvError(result).c_str());
      return -1;
    }
    s.ResetDecoder();
    s.FillAhead();
    if (!s.have_ahead) {
      if (at_start) return -1;
    } else if (s.ahead_slot <= n || at_start) {
      s.next_frame = s.ahead_slot <= n ? std::max<int64_t>(s.ahead_slot, 0) : n;
      s.decode_error = false;
      return 0;
    }
    back = back == 0 ? static_cast<int64_t>(units_per_frame * 25.0) + 1 : back * 2;
  }
  return -1;
}

int AviVideo::DecodeNext(Image* picture) {
  if (!state_) return -1;
  State& s = *state_;
  const int64_t g = s.next_frame++;
  for (;;) {
    s.FillAhead();
    if (s.have_ahead && (s.ahead_slot <= g || !s.have_held)) {
      std::swap(s.held, s.ahead);
      av_frame_unref(s.ahead);
      s.held_slot = s.ahead_slot;
      s.have_held = true;
      s.have_ahead = false;
      continue;
    }
    break;
  }
  if (s.ended && s.have_held && g > s.held_slot && g < s.count - 1 && !s.reported_end) {
    s.reported_end = true;
    s.Note(core::FormatString("Video %s ends at frame %lld of %lld; its last frame is shown", s.shown.c_str(),
                              static_cast<long long>(s.held_slot), static_cast<long long>(s.count)));
  }
  bool failed = s.decode_error;
  s.decode_error = false;
  for (int64_t frame : s.failed) failed = failed || frame == g;
  s.failed.erase(std::remove_if(s.failed.begin(), s.failed.end(), [g](int64_t frame) { return frame <= g; }),
                 s.failed.end());
  if (failed && !s.reported_error) {
    s.reported_error = true;
    s.Note(core::FormatString("Video %s: frame %lld could not be decoded", s.shown.c_str(), static_cast<long long>(g)));
  }
  if (!s.have_held || failed) return -1;
  if (!picture) return 0;
  return s.Convert(s.held, picture);
}

std::string AviVideo::TakeNotice() {
  if (!state_) return {};
  std::string notice;
  notice.swap(state_->notice);
  return notice;
}

}  // namespace media
