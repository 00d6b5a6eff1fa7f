// Writes the archive <out> of every file below <source> with one of the zip
// writers of the web ecosystem, chosen by <writer>, for the zip library's
// interoperability test. The writers come from the npm registry into their
// own folder (scripts/install-deps.sh installs them from package-lock.json).
//   node write_node.js <npm folder> <writer> <source> <out>
"use strict";
const fs = require("fs");
const path = require("path");

const { createRequire } = require("module");
const { pathToFileURL } = require("url");

const [modules, writer, source, out] = process.argv.slice(2);
// The writers are installed in their own folder, not beside this script.
const load = createRequire(path.join(path.resolve(modules), "package.json"));
const loadModule = async (name) => import(pathToFileURL(load.resolve(name)).href);

function list(prefix = "") {
  const files = [];
  for (const name of fs.readdirSync(path.join(source, prefix)).sort()) {
    const relative = prefix ? prefix + "/" + name : name;
    if (fs.statSync(path.join(source, relative)).isDirectory()) files.push(...list(relative));
    else files.push(relative);
  }
  return files;
}
const files = list();
const read = (name) => fs.readFileSync(path.join(source, name));
const mtime = new Date(2021, 5, 15, 12, 30, 10);

const writers = {
  async jszip() {
    const JSZip = load("jszip");
    const zip = new JSZip();
    for (const name of files) zip.file(name, read(name), { date: mtime });
    fs.writeFileSync(out, await zip.generateAsync({ type: "nodebuffer", compression: "DEFLATE" }));
  },
  async yazl() {
    const yazl = load("yazl");
    const zip = new yazl.ZipFile();
    files.forEach((name, i) => {
      // Both ways yazl takes content: a buffer (sizes known first) and a
      // stream (sizes in a data descriptor).
      if (i % 2) zip.addBuffer(read(name), name, { mtime });
      else zip.addReadStream(fs.createReadStream(path.join(source, name)), name, { mtime });
    });
    zip.addEmptyDirectory("folder", { mtime });
    zip.end();
    await new Promise((done, fail) =>
      zip.outputStream.pipe(fs.createWriteStream(out)).on("close", done).on("error", fail));
  },
  async fflate() {
    const fflate = load("fflate");
    const tree = {};
    for (const name of files) tree[name] = [new Uint8Array(read(name)), { mtime }];
    fs.writeFileSync(out, fflate.zipSync(tree, { level: 9 }));
  },
  async "fflate-stream"() {
    const fflate = load("fflate");
    const chunks = [];
    await new Promise((done, fail) => {
      const zip = new fflate.Zip((error, data, final) => {
        if (error) return fail(error);
        chunks.push(data);
        if (final) done();
      });
      files.forEach((name, i) => {
        const entry = i % 2 ? new fflate.ZipPassThrough(name) : new fflate.ZipDeflate(name, { level: 6 });
        entry.mtime = mtime;
        zip.add(entry);
        entry.push(new Uint8Array(read(name)), true);
      });
      zip.end();
    });
    fs.writeFileSync(out, Buffer.concat(chunks));
  },
  async "adm-zip"() {
    const AdmZip = load("adm-zip");
    const zip = new AdmZip();
    for (const name of files) zip.addFile(name, read(name));
    zip.writeZip(out);
  },
  async archiver() {
    const { ZipArchive } = await loadModule("archiver");
    const archive = new ZipArchive({ zlib: { level: 9 } });
    const done = new Promise((resolve, reject) => {
      archive.on("error", reject);
      archive.pipe(fs.createWriteStream(out)).on("close", resolve);
    });
    files.forEach((name, i) => {
      if (i % 2) archive.append(read(name), { name, date: mtime });
      else archive.file(path.join(source, name), { name, date: mtime, store: name.endsWith(".package") });
    });
    await archive.finalize();
    await done;
  },
};

if (!writers[writer]) {
  console.error("unknown writer " + writer);
  process.exit(2);
}
writers[writer]().catch((error) => {
  console.error(error);
  process.exit(1);
});
