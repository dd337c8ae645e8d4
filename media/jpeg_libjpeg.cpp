// JPEG reading with libjpeg(-turbo), through the file layer.
//
// libjpeg reports fatal errors by calling error_exit, whose standard version
// ends the process. Ours longjmps back into DecodeJpeg, which holds nothing
// but trivially destructible locals: everything that survives the jump lives
// in the JpegJob the caller owns, and the source callback that may raise an
// error has only trivial locals too. A damaged file therefore just fails.
//
// A truncated file is padded with a fake end marker, so libjpeg fills what
// is missing with grey: right for a photo cut short, wrong for a header
// that declares a huge picture and then ends. So the declared size is
// bounded by the file's length, and a file whose bytes end with its first
// scan's header is refused.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "app/core/core.h"
#include "media/media.h"

namespace media {

namespace {

constexpr size_t kInputBufferSize = 4096;
// Each progressive scan walks the whole coefficient buffer, so a small
// damaged file with thousands of scans could stall the program for minutes.
// Real encoders write about ten.
constexpr int kMaxScans = 1000;
// What libjpeg itself may allocate (progressive files keep every
// coefficient); beyond it the load fails instead of exhausting memory.
constexpr long kMaxDecoderMemory = 1024L * 1024 * 1024;

struct JpegSource {
  jpeg_source_mgr manager;  // first member: libjpeg hands back this pointer
  core::File* file;
  bool start_of_file;
  JOCTET buffer[kInputBufferSize];
};

struct JpegErrors {
  jpeg_error_mgr manager;  // first member, as above
  jmp_buf jump;
};

struct JpegJob {
  jpeg_decompress_struct info;
  JpegErrors errors;
  jpeg_progress_mgr progress;
  JpegSource source;
  Image* image;
  uint64_t file_bytes;  // from the starting position to the end
  bool allow_grey;
};

// Bytes from the current position to the end of `file`; 0 when it cannot
// tell (the position is restored).
uint64_t BytesLeft(core::File* file) {
  long start = file->Tell();
  if (start < 0 || file->Seek(0, SEEK_END) != 0) return 0;
  long end = file->Tell();
  if (file->Seek(start, SEEK_SET) != 0 || end < start) return 0;
  return static_cast<uint64_t>(end - start);
}

// Bytes libjpeg has not taken yet: what its buffer holds and what the file
// still has.
uint64_t UnreadBytes(const JpegJob& job) {
  return job.source.manager.bytes_in_buffer + BytesLeft(job.source.file);
}

void InitSource(j_decompress_ptr info) {
  reinterpret_cast<JpegSource*>(info->src)->start_of_file = true;
}

boolean FillInput(j_decompress_ptr info) {
  JpegSource* source = reinterpret_cast<JpegSource*>(info->src);
  size_t got = source->file->Read(source->buffer, 1, kInputBufferSize);
  if (got == 0) {
    if (source->start_of_file) ERREXIT(info, JERR_INPUT_EMPTY);
    // A truncated file ends in a fake end-of-image marker (libjpeg fills
    // the missing part with grey).
    WARNMS(info, JWRN_JPEG_EOF);
    source->buffer[0] = 0xFF;
    source->buffer[1] = JPEG_EOI;
    got = 2;
  }
  source->manager.next_input_byte = source->buffer;
  source->manager.bytes_in_buffer = got;
  source->start_of_file = false;
  return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
  jpeg_source_mgr* manager = info->src;
  if (count <= 0) return;
  while (count > static_cast<long>(manager->bytes_in_buffer)) {
    count -= static_cast<long>(manager->bytes_in_buffer);
    FillInput(info);
  }
  manager->next_input_byte += count;
  manager->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void TraceMessage(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  core::Trace("media: jpeg: %s\n", text);
}

[[noreturn]] void ErrorExit(j_common_ptr info) {
  TraceMessage(info);
  std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void CheckProgress(j_common_ptr info) {
  j_decompress_ptr decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMaxScans) {
    core::Trace("media: jpeg: more than %d scans\n", kMaxScans);
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
  }
}

// The only frame libjpeg may jump into. Keep its locals trivial.
int DecodeJpeg(JpegJob* job) {
  if (setjmp(job->errors.jump) != 0) {
    jpeg_destroy_decompress(&job->info);
    DestroyImage(job->image);
    return -1;
  }
  jpeg_create_decompress(&job->info);
  job->info.mem->max_memory_to_use = kMaxDecoderMemory;
  job->info.src = &job->source.manager;
  job->info.progress = &job->progress;
  jpeg_read_header(&job->info, TRUE);

  jpeg_decompress_struct& info = job->info;
  if (!ImageSizeAccepted(info.image_width, info.image_height)) {
    core::Trace("media: jpeg %s rejected: %u x %u is outside 1 x 1 .. %u x %u (%llu pixels at most)\n",
                job->source.file->DiskPath().c_str(), info.image_width, info.image_height, kMaxImageSide,
                kMaxImageSide, static_cast<unsigned long long>(kMaxImagePixels));
    jpeg_destroy_decompress(&info);
    return -1;
  }
  const uint64_t pixels = uint64_t{info.image_width} * info.image_height;
  if (pixels > std::max(kJpegPixelsAlways, job->file_bytes * kJpegPixelsPerByte)) {
    core::Trace("media: jpeg %s rejected: %u x %u cannot be encoded in %llu bytes\n",
                job->source.file->DiskPath().c_str(), info.image_width, info.image_height,
                static_cast<unsigned long long>(job->file_bytes));
    jpeg_destroy_decompress(&info);
    return -1;
  }
  // The header ends with the first scan's; its data must follow (more
  // than an end marker).
  if (UnreadBytes(*job) <= 2) {
    core::Trace("media: jpeg %s rejected: it ends before its picture data\n", job->source.file->DiskPath().c_str());
    jpeg_destroy_decompress(&info);
    return -1;
  }
  // Colour files only, grey ones when asked: CMYK/YCCK ones are not RGB on
  // output. libjpeg spreads a grey channel over R, G and B itself.
  const bool grey = job->allow_grey && info.num_components == 1 && info.jpeg_color_space == JCS_GRAYSCALE;
  if (grey) info.out_color_space = JCS_RGB;
  if ((info.num_components != 3 && !grey) || info.out_color_space != JCS_RGB) {
    core::Trace("media: jpeg %s rejected: %u x %u, %d components\n", job->source.file->DiskPath().c_str(),
                info.image_width, info.image_height, info.num_components);
    jpeg_destroy_decompress(&info);
    return -1;
  }
  if (CreateImage(job->image, MakeHeader(info.image_width, info.image_height, PF_RGB24)) != 0) {
    jpeg_destroy_decompress(&info);
    return -1;
  }
  jpeg_start_decompress(&info);
  if (info.output_components != 3 || info.output_width != job->image->width ||
      info.output_height != job->image->height) {
    jpeg_destroy_decompress(&info);
    DestroyImage(job->image);
    return -1;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[16];
    JDIMENSION wanted = info.output_height - info.output_scanline;
    if (wanted > 16) wanted = 16;
    for (JDIMENSION i = 0; i < wanted; ++i) rows[i] = job->image->Row(info.output_scanline + i);
    if (jpeg_read_scanlines(&info, rows, wanted) == 0) break;
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return 0;
}

}  // namespace

int LoadJpeg(Image* image, core::File* file, JpegKind kind) {
  if (!image) return -1;
  DestroyImage(image);
  if (!file) return -1;
  // Large (about 5 KB): on the heap, zeroed so that destroying a half-made
  // decompressor is safe.
  JpegJob* job = new (std::nothrow) JpegJob;
  if (!job) return -1;
  std::memset(job, 0, sizeof *job);
  job->image = image;
  job->info.err = jpeg_std_error(&job->errors.manager);
  job->errors.manager.error_exit = ErrorExit;
  job->errors.manager.output_message = TraceMessage;
  job->progress.progress_monitor = CheckProgress;
  job->source.file = file;
  job->file_bytes = BytesLeft(file);
  job->allow_grey = kind == JpegKind::kColourOrGrey;
  job->source.manager.init_source = InitSource;
  job->source.manager.fill_input_buffer = FillInput;
  job->source.manager.skip_input_data = SkipInput;
  job->source.manager.resync_to_restart = jpeg_resync_to_restart;
  job->source.manager.term_source = TermSource;
  int result = DecodeJpeg(job);
  delete job;
  return result;
}

}  // namespace media
