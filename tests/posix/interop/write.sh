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
  BsdtarZip64) bsdtar zip64 ;;
  BsdtarTraditionalEncryption) bsdtar encryption=zipcrypt --passphrase Stair7Pass ;;
  SevenZipStored) sevenzip -mx=0 $all ;;
  SevenZipTraditionalEncryption) sevenzip -pStair7Pass -mem=ZipCrypto $all ;;
  SevenZipPpmdIsUnsupported) sevenzip_mixed PPMd ;;
  SevenZipBehindAStub) (cd src && 7z a -tzip ../b.zip $all >/dev/null) && stub ;;
  Python*) kind=$(echo "${1#Python}" | sed 's/IsUnsupported//; s/ForcedZip64/zip64/; s/DataDescriptors/stream/' | tr A-Z a-z)
    python3 "$here/write_python.py" "$kind" src a.zip ;;
  JavaJarTool) jar --create --no-manifest --file a.zip -C src . ;;
  JavaZipOutputStream) java "$here/WriteZip.java" src a.zip ;;
  Jszip) node "$here/write_node.js" "$2" jszip src a.zip ;;
  Yazl | Fflate | FflateStreaming | AdmZip | Archiver)
    writer=$(echo "$1" | sed 's/Streaming/-stream/; s/AdmZip/adm-zip/' | tr A-Z a-z)
    node "$here/write_node.js" "$2" "$writer" src a.zip ;;
  *) echo "write.sh: no writer $1" >&2; exit 2 ;;
esac
