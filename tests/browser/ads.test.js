// A seller's whole story: two ads placed through the form, seen in their
// categories and among all ads, found by the seller's name, one unlocked with
// its password typed in another case, changed (price and category), checked
// in its new category, deleted; and a wrong password turned away.
import assert from 'node:assert/strict';
import { describe } from 'node:test';
import { screenshotter, servedSiteInBrowser, visibleText } from './lib/site.js';
import {
  assertNotErrorPage, deleteForm, openCategory, openSellerAds, openShowAll, passwordLinks, placeAd,
  storySteps, unlockOnlyAd, updateForm,
} from './lib/visitor.js';

const DESK = {
  category: 'Furniture',
  item: 'Vintage oak writing desk',
  name: 'Marta Quayle',
  email: 'marta@example.org',
  phone: '555-0142',
  price: '240',
  password: 'Oak9desk',
  desc: 'Three drawers, brass handles, some wear on the top. Collect only.',
};
const DINGHY = {
  category: 'Boats',
  item: 'Fibreglass dinghy, 3.2 m, with oars',
  name: 'Tomas Beck',
  email: 'tomas.beck@example.org',
  phone: '555-0199',
  price: '1150',
  password: 'Sail42',
  desc: 'Launched every summer since 2015; trailer not included.',
};
// The dinghy after its edit.
const NEW_PRICE = '985';
const NEW_CATEGORY = 'Miscellaneous';

// Swaps the letter case of every letter: "Sail42" -> "sAIL42".
const otherCase = (s) => [...s].map((c) => (c === c.toUpperCase() ? c.toLowerCase() : c.toUpperCase())).join('');

describe('placing, finding, editing and deleting ads', () => {
  let site;
  let page;
  servedSiteInBrowser((s, p) => {
    site = s;
    page = p;
  });
  const shot = screenshotter('ads');
  const step = storySteps();

  step('a seller places an ad for a desk', async () => {
    await placeAd(page, site, DESK);
    await shot(page, 'desk-placed');
  });

  step('another seller places an ad for a dinghy', async () => {
    await placeAd(page, site, DINGHY);
    await shot(page, 'dinghy-placed');
  });

  step('each ad shows in its own category, and only there', async () => {
    const furniture = await openCategory(page, site, 'Furniture');
    await shot(page, 'furniture');
    for (const text of [DESK.item, DESK.name, DESK.price, DESK.desc]) assert.ok(furniture.includes(text), `Furniture shows "${text}"`);
    assert.ok(!furniture.includes(DINGHY.item), 'Furniture does not show the dinghy');

    const boats = await openCategory(page, site, 'Boats');
    await shot(page, 'boats');
    for (const text of [DINGHY.item, DINGHY.name, DINGHY.price, DINGHY.desc]) assert.ok(boats.includes(text), `Boats shows "${text}"`);
    assert.ok(!boats.includes(DESK.item), 'Boats does not show the desk');

    const pets = await openCategory(page, site, 'Pets');
    assert.ok(!pets.includes(DESK.item) && !pets.includes(DINGHY.item), 'Pets shows neither ad');
  });

  step('"Show ALL Ads" shows both', async () => {
    const all = await openShowAll(page, site);
    await shot(page, 'show-all');
    for (const text of [DESK.item, DESK.price, DINGHY.item, DINGHY.price]) assert.ok(all.includes(text), `all ads show "${text}"`);
  });

  step("each seller finds his own ad by name, in any letter case", async () => {
    const marta = await openSellerAds(page, site, DESK.name);
    await shot(page, 'seller-marta');
    assert.ok(marta.includes(DESK.item), 'Marta finds the desk');
    assert.ok(!marta.includes(DINGHY.item), "Marta does not see Tomas's dinghy");
    assert.equal(await passwordLinks(page).count(), 1, 'Marta has one ad to edit');

    const tomas = await openSellerAds(page, site, DINGHY.name.toLowerCase());
    await shot(page, 'seller-tomas');
    assert.ok(tomas.includes(DINGHY.item), 'Tomas finds the dinghy');
    assert.ok(!tomas.includes(DESK.item), "Tomas does not see Marta's desk");
    assert.equal(await passwordLinks(page).count(), 1, 'Tomas has one ad to edit');

    const nobody = await openSellerAds(page, site, 'Nobody Here', { expectAds: false });
    assert.equal(await passwordLinks(page).count(), 0, 'an unknown seller has no ads');
    assert.ok(!nobody.includes(DESK.item) && !nobody.includes(DINGHY.item), 'an unknown seller sees neither ad');
  });

  step('a wrong password is turned away', async () => {
    await unlockOnlyAd(page, site, DESK.name, 'wrong1');
    await shot(page, 'wrong-password');
    const text = await visibleText(page);
    assert.ok(text.includes('Invalid Password!'), `the page says "Invalid Password!": ${text.slice(0, 300)}`);
    assert.equal(await updateForm(page).count(), 0, 'no edit form after a wrong password');
    assert.equal(await deleteForm(page).count(), 0, 'no delete form after a wrong password');
  });

  step('the password typed in another case opens the edit page, filled in', async () => {
    await unlockOnlyAd(page, site, DINGHY.name, otherCase(DINGHY.password));
    await shot(page, 'edit-dinghy');
    await assertNotErrorPage(page, 'the edit page');
    const text = await visibleText(page);
    assert.ok(!text.includes('Invalid Password!'), 'the password in another case is accepted');
    const form = updateForm(page);
    assert.equal(await form.count(), 1, 'one form that posts to Update');
    assert.equal(await deleteForm(page).count(), 1, 'one form that posts to Delete');
    assert.equal(await form.locator('input[name="Item" i]:not([type="hidden"])').inputValue(), DINGHY.item);
    assert.equal(await form.locator('input[name="Price" i]').inputValue(), DINGHY.price);
    assert.equal(await form.locator('textarea[name="Desc" i]').inputValue(), DINGHY.desc);
  });

  step('the seller changes the price and the category', async () => {
    const form = updateForm(page);
    await form.locator('input[name="Price" i]').fill(NEW_PRICE);
    await form.locator('select[name="Category" i]').selectOption({ label: NEW_CATEGORY });
    const [response] = await Promise.all([
      page.waitForNavigation(),
      form.locator('input[type="submit" i]').first().click(),
    ]);
    assert.equal(response.status(), 200);
    await shot(page, 'updated');
    await assertNotErrorPage(page, 'the update');
  });

  step('the changed ad has moved to its new category with its new price', async () => {
    const misc = await openCategory(page, site, NEW_CATEGORY);
    await shot(page, 'miscellaneous');
    assert.ok(misc.includes(DINGHY.item), `${NEW_CATEGORY} shows the dinghy`);
    assert.ok(misc.includes(NEW_PRICE), `${NEW_CATEGORY} shows the new price`);
    assert.ok(!misc.includes(DINGHY.price), 'the old price is gone');
    assert.ok(misc.includes(DINGHY.desc), 'the description is unchanged');

    const boats = await openCategory(page, site, 'Boats');
    assert.ok(!boats.includes(DINGHY.item), 'Boats no longer shows the dinghy');

    const furniture = await openCategory(page, site, 'Furniture');
    assert.ok(furniture.includes(DESK.item) && furniture.includes(DESK.price), 'the desk is untouched');
  });

  step('the seller deletes the ad', async () => {
    await unlockOnlyAd(page, site, DINGHY.name, DINGHY.password);
    const form = deleteForm(page);
    assert.equal(await form.count(), 1, 'one form that posts to Delete');
    const [response] = await Promise.all([
      page.waitForNavigation(),
      form.locator('input[type="submit" i]').first().click(),
    ]);
    assert.equal(response.status(), 200);
    await shot(page, 'deleted');
    await assertNotErrorPage(page, 'the delete');
  });

  step('the deleted ad is gone everywhere; the other stays', async () => {
    const all = await openShowAll(page, site);
    await shot(page, 'show-all-after-delete');
    assert.ok(!all.includes(DINGHY.item), 'all ads no longer show the dinghy');
    assert.ok(all.includes(DESK.item), 'all ads still show the desk');

    const misc = await openCategory(page, site, NEW_CATEGORY);
    assert.ok(!misc.includes(DINGHY.item), `${NEW_CATEGORY} no longer shows the dinghy`);

    const tomas = await openSellerAds(page, site, DINGHY.name, { expectAds: false });
    assert.equal(await passwordLinks(page).count(), 0, 'Tomas has no ads left');
    assert.ok(!tomas.includes(DINGHY.item), "Tomas's ads no longer show the dinghy");
  });

  step('no page ran a script error or opened a dialog', async () => {
    assert.deepEqual(page.pageErrors, []);
    assert.deepEqual(page.dialogs, []);
  });
});
