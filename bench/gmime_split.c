/* The reference for bench/mime.sh: GMime 3 parses each message and writes every leaf part's
 * decoded content to its own file, the same work the splitter does.
 *   gmime_split MESSAGE... OUTDIR */
#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static const char* outdir;
static unsigned long counter;
static int failures;

static void write_part(GMimeObject* part) {
  if (GMIME_IS_MULTIPART(part)) {
    GMimeMultipart* mp = GMIME_MULTIPART(part);
    for (int i = 0; i < g_mime_multipart_get_count(mp); i++) write_part(g_mime_multipart_get_part(mp, i));
    return;
  }
  if (GMIME_IS_MESSAGE_PART(part)) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
    if (inner && inner->mime_part) write_part(inner->mime_part);
    return;
  }
  if (!GMIME_IS_PART(part)) return;
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
  char path[4096];
  snprintf(path, sizeof path, "%s/%lu.part", outdir, counter++);
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) {
    failures++;
    return;
  }
  GMimeStream* fs = g_mime_stream_fs_new(fd);
  GMimeStream* out = g_mime_stream_buffer_new(fs, GMIME_STREAM_BUFFER_BLOCK_WRITE);
  if (content) g_mime_data_wrapper_write_to_stream(content, out);
  g_mime_stream_flush(out);
  g_object_unref(out);
  g_object_unref(fs); /* closes fd */
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: gmime_split MESSAGE... OUTDIR\n");
    return 2;
  }
  g_mime_init();
  outdir = argv[argc - 1];
  for (int i = 1; i < argc - 1; i++) {
    int fd = open(argv[i], O_RDONLY);
    if (fd < 0) {
      failures++;
      continue;
    }
    GMimeStream* stream = g_mime_stream_fs_new(fd);
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, NULL);
    if (message) {
      if (message->mime_part) write_part(message->mime_part);
      g_object_unref(message);
    } else {
      failures++;
    }
    g_object_unref(parser);
    g_object_unref(stream);
  }
  g_mime_shutdown();
  printf("%lu parts, %d failures\n", counter, failures);
  return failures ? 1 : 0;
}
