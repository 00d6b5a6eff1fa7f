// Writes the archive <out> of every file below <source> with Java's
// ZipOutputStream: deflated entries carry data descriptors (the stream
// learns sizes and CRC only after the data), stored ones their sizes first.
//   java WriteZip.java <source> <out>
import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Stream;
import java.util.zip.CRC32;
import java.util.zip.ZipEntry;
import java.util.zip.ZipOutputStream;

public class WriteZip {
  public static void main(String[] args) throws IOException {
    Path source = Path.of(args[0]);
    List<Path> files;
    try (Stream<Path> walk = Files.walk(source)) {
      files = walk.filter(Files::isRegularFile).sorted().toList();
    }
    try (OutputStream file = Files.newOutputStream(Path.of(args[1]));
        ZipOutputStream zip = new ZipOutputStream(file)) {
      zip.setComment("written by ZipOutputStream");
      int n = 0;
      for (Path path : files) {
        String name = source.relativize(path).toString().replace('\\', '/');
        byte[] data = Files.readAllBytes(path);
        ZipEntry entry = new ZipEntry(name);
        if (n++ % 2 == 1) {
          CRC32 crc = new CRC32();
          crc.update(data);
          entry.setMethod(ZipEntry.STORED);
          entry.setSize(data.length);
          entry.setCrc(crc.getValue());
        }
        zip.putNextEntry(entry);
        zip.write(data);
        zip.closeEntry();
      }
      zip.putNextEntry(new ZipEntry("folder/"));
      zip.closeEntry();
    }
  }
}
