#!/bin/sh
# Seed corpus for cfb_fuzz: packages made by the peers (wixl, msibuild) and
# compound files of both versions written by our own tests' shapes.
# Usage: make_corpus.sh DIR
set -e
out=${1:?usage: make_corpus.sh DIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'small file\n' > small.txt
head -c 6000 /dev/urandom > medium.bin
cat > p.wxs <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Fuzz Seed" Language="1033" Version="1.0.0" Manufacturer="qltmsi"
           UpgradeCode="{2E4A6C8E-0A2C-4E6A-8C0E-2A4C6E8A0C2E}">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="seed.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Seed">
          <Component Id="Main" Guid="{3F5B7D9F-1B3D-4F7B-9D1F-3B5D7F9B1D3F}">
            <File Id="small.txt" Name="small.txt" Source="small.txt" KeyPath="yes"/>
            <File Id="medium.bin" Name="medium.bin" Source="medium.bin"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
WXS
wixl -o "$out/wixl.msi" p.wxs
msibuild "$out/msibuild.msi" -q "CREATE TABLE \`T\` (\`K\` CHAR(8) NOT NULL PRIMARY KEY \`K\`)" -a blob medium.bin
