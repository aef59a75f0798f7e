/* Appends the template of an enrolment run (feature.txt) to a template database as one 256-byte
 * record, and prints the record's number: keep it with the person the print belongs to. Append
 * from one place at a time. Build with MinGW-w64 (i686-w64-mingw32-gcc add_record.c -o
 * add_record.exe) or Visual C++ (cl add_record.c). Usage: add_record feature.txt match.bin.
 * Exit status: 0 with the record added, 2 when it could not be. */

#include <stdio.h>

int main(int argc, char** argv) {
  unsigned char record[256];
  FILE* feature;
  FILE* database;
  long length;
  int i, value;

  if (argc != 3) {
    printf("usage: add_record feature.txt database.bin\n");
    return 2;
  }
  /* The first 256 of its 257 lines are the record; the last is the byte the library keeps beyond. */
  feature = fopen(argv[1], "r");
  if (!feature) {
    printf("cannot read %s\n", argv[1]);
    return 2;
  }
  for (i = 0; i < 256; ++i) {
    if (fscanf(feature, "%d", &value) != 1 || value < 0 || value > 255) {
      printf("%s is not a template: line %d\n", argv[1], i + 1);
      fclose(feature);
      return 2;
    }
    record[i] = (unsigned char)value;
  }
  fclose(feature);

  database = fopen(argv[2], "ab");
  if (!database || fseek(database, 0, SEEK_END) != 0 || (length = ftell(database)) < 0) {
    printf("cannot open %s\n", argv[2]);
    return 2;
  }
  /* A record's number is its place in the file: a file that is not whole records would shift
   * every number after it. */
  if (length % 256 != 0) {
    printf("%s is not whole 256-byte records (%ld bytes)\n", argv[2], length);
    fclose(database);
    return 2;
  }
  if (fwrite(record, 1, sizeof record, database) != sizeof record || fclose(database) != 0) {
    printf("cannot write %s\n", argv[2]);
    return 2;
  }
  printf("record %ld\n", length / 256);
  return 0;
}
