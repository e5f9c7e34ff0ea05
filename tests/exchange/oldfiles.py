#!/usr/bin/python3
"""Makes the dBase and FoxPro fixtures of tst_oldfiles with python3-dbf and
prints what python3-dbfread, an independent reader, finds in them (JSON).

usage: oldfiles.py DIRECTORY
"""
import datetime
import decimal
import json
import os
import sys

import dbf
import dbfread

out = sys.argv[1]
os.chdir(out)

# dBase III, code page 850, a .dbt memo, two rows marked deleted.
t = dbf.Table('ADRESSEN', 'NAME C(30); VORNAME C(20); STRASSE C(30); PLZ C(5); ORT C(25); '
              'TELEFON C(20); GEBURT D; AKTIV L; BETRAG N(8,2); BEMERKUNG M',
              dbf_type='db3', codepage='cp850')
t.open(mode=dbf.READ_WRITE)
t.append(('Müller', 'Jürgen', 'Hauptstraße 5', '50667', 'Köln', '0221 123456',
          datetime.date(1961, 2, 28), True, 12.5, 'Erste Zeile\r\nZweite Zeile mit Öl und ß'))
t.append(('Gelöscht', 'Erster', '', '', '', '', None, False, 0, 'weg'))
t.append(('Weiß', 'Änne', 'Über den Höfen 3', '80331', 'München', '089 777', None, False, 0, ''))
t.append(('Gelöscht', 'Zweiter', '', '', '', '', None, False, 0, ''))
t.append(('Groß', 'Ödön', 'Ährenweg 1', '01067', 'Dresden', '', datetime.date(1990, 12, 24),
          None, 3, 'ß' * 700))
dbf.delete(t[1])
dbf.delete(t[3])
t.close()
# The memo file as DOS programs name it: the case differs from the table's.
os.rename('ADRESSEN.dbt', 'adressen.DBT')

# FoxPro with an .fpt memo, code page 1252.
f = dbf.Table('FOX', 'NACHNAME C(30); VORNAME C(20); STR C(30); HAUSNR C(6); PLZ C(5); '
              'ORT C(25); TEL_PRIVAT C(20); NOTIZ M', dbf_type='fp', codepage='cp1252')
f.open(mode=dbf.READ_WRITE)
f.append(('Schäfer', 'Björn', 'Lindenallee', '12a', '10115', 'Berlin', '030 1234',
          'Kennt „Anführungszeichen“ und €'))
f.append(('Ohnenotiz', 'Otto', '', '', '', '', '', ''))
f.close()

# Visual FoxPro: binary integers, currency, date and time.
v = dbf.Table('VFP', 'NAME C(20); ALTER I; BETRAG Y; ZEIT T; NOTIZ M', dbf_type='vfp',
              codepage='cp1252')
v.open(mode=dbf.READ_WRITE)
v.append(('Größe', 42, 1234.5678, datetime.datetime(2001, 2, 3, 4, 5, 6), 'Notiz mit €'))
v.append(('Klein', -7, -0.5, None, ''))
v.close()

# A table whose memo file is missing.
m = dbf.Table('OHNEMEMO', 'NAME C(20); VORNAME C(20); BEMERKUNG M', dbf_type='db3',
              codepage='cp850')
m.open(mode=dbf.READ_WRITE)
m.append(('Vogel', 'Käthe', 'geht verloren'))
m.close()
os.remove('OHNEMEMO.dbt')


def plain(value):
    if isinstance(value, (datetime.date, datetime.datetime)):
        return value.isoformat()
    if isinstance(value, decimal.Decimal):
        return str(value)
    return value


oracle = {}
for name in ('ADRESSEN.dbf', 'FOX.dbf', 'VFP.dbf'):
    table = dbfread.DBF(name, ignorecase=True)
    oracle[name] = {
        'encoding': table.encoding,
        'records': [{k: plain(v) for k, v in r.items()} for r in table],
        'deleted': len(list(table.deleted)),
    }
json.dump(oracle, sys.stdout, ensure_ascii=False)
