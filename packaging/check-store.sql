-- A small Viber store for the package check and the screenshot, read after the
-- template schema (src/resources/res/ios_viber_db.sql). Dates are store time:
-- seconds since 2001-01-01 UTC (741600000 is 2024-07-02).
INSERT INTO ZPHONENUMBERINDEX (Z_PK, ZCANONIZEDPHONENUM, ZNAME, ZPHONENUM) VALUES
    (1, '4915111111111', 'Ann', '+4915111111111'),
    (2, '4915222222222', 'Bob', '+4915222222222');
INSERT INTO ZCONVERSATION (Z_PK, ZDATE, ZGROUPID, ZNAME) VALUES
    (1, 741600900, NULL, NULL),
    (2, 741601500, '6012345678901', 'Weekend trip');
INSERT INTO Z_4PHONENUMINDEXES (Z_4CONVERSATIONS, Z_7PHONENUMINDEXES) VALUES (1, 1), (2, 1), (2, 2);
INSERT INTO ZVIBERMESSAGE (Z_PK, ZSEQ, ZTOKEN, ZCONVERSATION, ZPHONENUMINDEX, ZDATE, ZSTATEDATE, ZSTATE, ZTEXT) VALUES
    (1, 1, 9001, 1, 1, 741600000, 741600000, 'received', 'Hello! Are you back from the coast? 😀'),
    (2, 2, 9002, 1, NULL, 741600300, 741600300, 'delivered', 'Hi Ann! Did the photos arrive?'),
    (3, 3, 9003, 1, 1, 741600600, 741600600, 'received', 'Yes, all of them. The one from the harbour is lovely.'),
    (4, 4, 9004, 1, NULL, 741600900, 741600900, 'delivered', 'Thanks 🙂 See you on Saturday'),
    (5, 5, 9005, 2, 2, 741601200, 741601200, 'received', 'Who brings the tent?'),
    (6, 6, 9006, 2, 1, 741601500, 741601500, 'received', 'I will, and the stove too');
