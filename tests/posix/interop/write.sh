#!/bin/sh
# Writes a.zip of the files in src/ (in the current folder) with the zip
# writer <writer>, for the zip library's interoperability test.
#   write.sh <writer> <npm folder>
set -eu
here=$(dirname "$0")
all="readme.txt data sub empty.txt"
# A stub put in front of a finished archive b.zip, its offsets unchanged.
stub() { { printf 'MZ stub of a self-extractor'; cat b.zip; } >a.zip; }
bsdtar() { o=$1; shift; command bsdtar --format zip -cf a.zip -C src --options "zip:$o" "$@" $all; }
sevenzip() { (cd src && 7z a -tzip ../a.zip "$@" >/dev/null); }
# Everything but readme.txt deflated, then readme.txt with the method given.
sevenzip_mixed() { sevenzip data sub empty.txt && sevenzip "-mm=$1" readme.txt; }
case "$1" in
  BsdtarDeflated) bsdtar compression=deflate ;;
  BsdtarStored) bsdtar compression=store ;;
  BsdtarDeflateLevel1) bsdtar compression-level=1 ;;
  BsdtarDeflateLevel9) bsdtar compression-level=9 ;;
  BsdtarZip64) bsdtar zip64 ;;
  BsdtarExperimentalExtraFields) bsdtar experimental ;;
  BsdtarTraditionalEncryption) bsdtar encryption=zipcrypt --passphrase Stair7Pass ;;
  BsdtarAesIsUnsupported) bsdtar encryption=aes256 --passphrase Stair7Pass ;;
  BsdtarZip64BehindAStub) command bsdtar --format zip --options zip:zip64 -cf b.zip -C src $all && stub ;;
  SevenZipStored) sevenzip -mx=0 $all ;;
  SevenZipDeflateLevel*) sevenzip -mm=Deflate "-mx=${1#SevenZipDeflateLevel}" $all ;;
  SevenZipTraditionalEncryption) sevenzip -pStair7Pass -mem=ZipCrypto $all ;;
  SevenZipAesIsUnsupported) sevenzip -pStair7Pass -mem=AES256 $all ;;
  SevenZipBzip2IsUnsupported) sevenzip_mixed BZip2 ;;
  SevenZipLzmaIsUnsupported) sevenzip_mixed LZMA ;;
  SevenZipPpmdIsUnsupported) sevenzip_mixed PPMd ;;
  SevenZipDeflate64IsUnsupported) sevenzip_mixed Deflate64 ;;
  SevenZipBehindAStub) (cd src && 7z a -tzip ../b.zip $all >/dev/null) && stub ;;
  Python*) kind=$(echo "${1#Python}" | sed 's/IsUnsupported//; s/ForcedZip64/zip64/; s/DataDescriptors/stream/' | tr A-Z a-z)
    python3 "$here/write_python.py" "$kind" src a.zip ;;
  JavaJarTool) jar --create --no-manifest --file a.zip -C src . ;;
  JavaZipOutputStream) java "$here/WriteZip.java" src a.zip ;;
  Jszip) node "$here/write_node.js" "$2" jszip src a.zip ;;
  JszipStreamFiles) node "$here/write_node.js" "$2" jszip-stream src a.zip ;;
  JszipFileBelowAFile) node "$here/write_node.js" "$2" jszip-clash src a.zip ;;
  Yazl | Fflate | FflateStreaming | AdmZip | Archiver)
    writer=$(echo "$1" | sed 's/Streaming/-stream/; s/AdmZip/adm-zip/' | tr A-Z a-z)
    node "$here/write_node.js" "$2" "$writer" src a.zip ;;
  *) echo "write.sh: no writer $1" >&2; exit 2 ;;
esac
