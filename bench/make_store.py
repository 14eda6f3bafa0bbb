#!/usr/bin/env python3
"""Writes a bench store: qb.db with COUNT ads of realistic size.

    make_store.py PATH COUNT

The categories are the sample site's eight (site/cat.lst). The eighth,
Miscellaneous, holds exactly LISTED_ADS ads at every size, so its listing
shows the same page whatever the size of the table; the other seven share
the rest. One seller, SELLER, has exactly SELLER_ADS ads; the ad with ID
COUNT // 2 has the password EDIT_PASSWORD. Every ad expires in 2099, so no
listing purges anything while it is timed. Runs are repeatable (fixed seed).

The file gets only the bare table, as an outside tool would make it; the
board adds its indexes the first time it opens the file.
"""
import os
import random
import sqlite3
import sys

CATEGORIES = ["Vehicles", "Boats", "Real Estate", "Jobs", "Electronics", "Furniture", "Pets", "Miscellaneous"]
LISTED_ADS = 50
SELLER = "Marta Quayside"
SELLER_ADS = 5
EDIT_PASSWORD = "HARBOUR"

CREATE_TABLE = (
    "CREATE TABLE QB (ID INTEGER PRIMARY KEY AUTOINCREMENT, Item TEXT, Name TEXT, Email TEXT, "
    "Price TEXT, \"Desc\" TEXT, Phone TEXT, Category TEXT, Expire TEXT, Date TEXT, Password TEXT, "
    "RemoteHost TEXT, RemoteAddr TEXT, RemoteUser TEXT)")

FIRST = ["Ann", "Ben", "Carla", "Dev", "Erik", "Fatima", "Georg", "Hana", "Ivan", "Julia", "Kofi", "Lena",
         "Mateo", "Nina", "Omar", "Priya", "Quentin", "Rosa", "Sven", "Tara", "Umar", "Vera", "Wim", "Xiu",
         "Yusuf", "Zoe", "Aiko", "Bruno", "Chen", "Dara", "Emil", "Freya", "Gus", "Ines", "Jonas", "Kira"]
LAST = ["Lee", "Novak", "Okafor", "Silva", "Berg", "Khan", "Moreau", "Tanaka", "Walsh", "Kowalski", "Haddad",
        "Jensen", "Rossi", "Petrov", "Nguyen", "Fischer", "Duarte", "Larsen", "Abara", "Costa", "Ivers",
        "Brandt", "Sato", "Murphy", "Vidal", "Horvat", "Lind", "Mensah", "Ortiz", "Quinn"]
THINGS = ["bicycle", "dinghy", "sofa", "laptop", "puppy crate", "kayak", "oak table", "outboard motor",
          "guitar", "camera", "lawn mower", "road bike", "desk lamp", "bookshelf", "sailing jacket",
          "fishing rod", "drum kit", "washing machine", "pram", "telescope"]
ADJECTIVES = ["barely used", "well kept", "vintage", "nearly new", "sturdy", "lightweight", "restored",
              "spacious", "compact", "handmade", "classic", "reliable"]
WORDS = ("the a with and for in good condition comes original box collection only cash no offers "
         "serviced recently small scratch side works perfectly selling because moving house must go "
         "this week viewing evenings weekends harbour quay parking near station includes spare parts "
         "manual charger cover price firm reasonable offers considered pick up delivery possible "
         "local area").split()


def description(rng):
    # 40 to 110 words: about 250 to 700 characters.
    words = [rng.choice(WORDS) for _ in range(rng.randint(40, 110))]
    text = " ".join(words)
    return text[0].upper() + text[1:] + "."


def main():
    path, count = sys.argv[1], int(sys.argv[2])
    if count < LISTED_ADS * 2:
        sys.exit("make_store.py: COUNT must be at least %d" % (LISTED_ADS * 2))
    rng = random.Random(20240601 + count)
    for suffix in ("", "-journal", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    listed = {1 + (i * count) // LISTED_ADS for i in range(LISTED_ADS)}
    seller = {1 + (i * count) // SELLER_ADS + count // (3 * SELLER_ADS) for i in range(SELLER_ADS)}
    edit_id = count // 2

    db = sqlite3.connect(path)
    db.execute(CREATE_TABLE)
    rows = []
    for ad_id in range(1, count + 1):
        if ad_id in listed:
            category = CATEGORIES[7]
        else:
            category = CATEGORIES[ad_id % 7]
        name = SELLER if ad_id in seller else "%s %s" % (rng.choice(FIRST), rng.choice(LAST))
        first = name.split()[0].lower()
        item = "%s %s" % (rng.choice(ADJECTIVES).capitalize(), rng.choice(THINGS))
        month, day = rng.randint(1, 12), rng.randint(1, 28)
        rows.append((
            ad_id, item, name,
            "%s.%d@example.org" % (first, rng.randint(1, 999)),
            str(rng.choice([5, 15, 40, 75, 120, 250, 600, 1200, 4500])),
            description(rng),
            "555-%03d-%04d" % (rng.randint(100, 999), rng.randint(0, 9999)),
            category,
            "2099-%02d-%02d" % (month, day),
            "%d/%d/2024" % (month, day),
            EDIT_PASSWORD if ad_id == edit_id else "PW%05d" % rng.randint(0, 99999),
            None,
            "192.168.%d.%d" % (rng.randint(0, 255), rng.randint(1, 254)),
            None,
        ))
    db.executemany("INSERT INTO QB VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)", rows)
    db.commit()
    db.close()


if __name__ == "__main__":
    main()
